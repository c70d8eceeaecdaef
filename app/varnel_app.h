// The updater as a running program: start-up of the form (single instance, language,
// directories, the package, the threads), the launch of line operations, the close question and
// the end. Every face (window, console) drives one CVarnelApp from its UI thread.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "app/form.h"
#include "app/varnel_view.h"
#include "host/connection_manager.h"
#include "platform/single_instance.h"
#include "ports/replug_thread.h"

namespace orbek {

inline constexpr const char* kInstanceName =
    "morvatelquendisalo,0x12,0xab,0x4f,0x06,0xab,0x1e,0x2c,0x8d,0x9b,0x1d,0x66";

class CVarnelApp {
 public:
  // `exitProgram` ends the process with a status (after a successful update, or when start-up
  // must not go on); faces pass how their process ends.
  CVarnelApp(Form& form, std::function<void(int status)> exitProgram);
  ~CVarnelApp();
  CVarnelApp(const CVarnelApp&) = delete;
  CVarnelApp& operator=(const CVarnelApp&) = delete;

  // The form's initialisation. False when the process is to end at once (another instance, a
  // directory that cannot be made); `exitProgram` has then been called with status 0.
  bool InitialiseForm();

  // A line's start button: checks, marks the line busy, parks its search thread and the re-plug
  // thread, and starts the worker of the line's operation. False when a check refused it.
  bool StartLineOperation(int line);
  // A command of the form by its id: the start buttons 1008-1015 (UPDATE is 1008), the stop
  // buttons 1016-1023, stop-all 1100 and the factory start-all. False for any other id.
  bool OnCommand(int commandId);
  // Starts every line whose stick is ready; a line whose stick becomes ready within the next
  // 10 s is started by StartLinesBecomingReady, which the face calls on its UI thread at least a
  // few times a second. With no line ready, the form says so.
  void StartAllLines();
  void StartLinesBecomingReady();
  // True while start-all's window is open.
  bool StartAllWaiting() const { return startAllUntilMs_ != 0; }
  // What a line's start runs: an update, an NV backup or an NV restore (its setting field in
  // the factory face). False (and nothing changes) while the line is busy or for another value.
  bool SetLineOperation(int line, int operation);
  // Asks a running update to stop (it notices at its next check).
  void StopLine(int line);
  void StopAllLines();

  // The close request: true when the window is to close (no line busy, or the user said Yes).
  bool ConfirmClose();
  // The window's end: the package removed (the re-plug thread stopped before its library is
  // unloaded). When a worker still runs, the process ends here with status 1, before anything
  // the worker uses is released; an interrupted update first says that the stick must be
  // updated again and how (in a message box too, unless `askNothing`: the process was told to
  // end and nobody may be there to answer).
  void DestroyWindow(bool askNothing = false);

  bool AnyLineBusy() const;
  // True once a worker has been started and has ended.
  bool OperationEnded(int line) const;
  // True while the line's worker thread runs (it may still show a box after the line is idle).
  bool WorkerRunning(int line) const;

  CVarnelDoc& doc() { return doc_; }
  CVarnelView& view() { return *view_; }

 private:
  void StartWorker(int line);
  bool LaunchChecksPass(int line);
  void ResumeReplugWhenIdle();
  bool NvBackupsWritable(const LineSession& session);
  void EnableIdleLines(bool enable);
  void StartReadyLinesInWindow();
  enum class Launch { Started, Refused, NotReady };
  Launch LaunchLine(int line);

  Form& form_;
  std::function<void(int)> exitProgram_;
  CVarnelDoc doc_;
  std::unique_ptr<CVarnelView> view_;
  ConnectionManager connectionManager_;
  std::unique_ptr<platform::NamedInstance> instance_;
  std::unique_ptr<ReplugThread> replugThread_;
  // Held while the re-plug thread is suspended, resumed or stopped (a worker's thread resumes it
  // when several lines run).
  std::mutex replugMutex_;
  std::atomic<int> workerDone_[kLineCount] = {};
  // Start-all's window (clock ms, 0: closed), the lines it has started or tried, how many started.
  uint64_t startAllUntilMs_ = 0;
  std::array<bool, kLineCount> startAllCovered_{};
  int startAllStarted_ = 0;
  bool startingLines_ = false;
  bool workerStarted_[kLineCount] = {};
};

}  // namespace orbek
