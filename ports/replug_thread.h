// The re-plug thread: for the life of the program it asks the re-plug library to switch a stick
// that shows only its CD-ROM into its modem personality, every few seconds.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/suspendable_thread.h"

namespace orbek {

// Where the package puts the library.
inline constexpr const char* kReplugLibraryPath =
    "C:\\Program Files\\Windows Service\\Tazlonewversion\\ResetUSB.dll";

// "USB\Vid_" + the stick's vendor id (a build setting) + "&Pid_2000".
std::string ReplugHardwareIdPrefix();

class ReplugThread {
 public:
  using ShowMessage = std::function<void(const std::string& text)>;

  // `libraryPath` as the updater names it (NativePath applies); `enabled` is the document's
  // replugEnabled flag; `showMessage` shows a message box.
  ReplugThread(std::string libraryPath, const std::atomic<int>& enabled, ShowMessage showMessage);
  // Stops the thread first, then unloads the library: the thread never calls into an unloaded
  // library.
  ~ReplugThread();
  ReplugThread(const ReplugThread&) = delete;
  ReplugThread& operator=(const ReplugThread&) = delete;

  void Start();
  void Suspend();
  void Resume();
  // Stops and joins the thread; the library stays loaded until UnloadLibrary.
  void Stop();
  void UnloadLibrary();

  // -1 once the thread ended because the library or its export could not be loaded.
  int Result() const { return result_; }
  bool Finished() const { return finished_; }
  // How many times Replug was called, and how many of those found the stick.
  int Calls() const { return calls_; }
  int Found() const { return found_; }

 private:
  void Run(platform::SuspendableThread& thread);

  const std::string libraryPath_;
  const std::atomic<int>& enabled_;
  ShowMessage showMessage_;
  std::unique_ptr<platform::DynamicLibrary> library_;
  std::unique_ptr<platform::SuspendableThread> thread_;
  std::atomic<int> result_{0};
  std::atomic<bool> finished_{false};
  std::atomic<int> calls_{0};
  std::atomic<int> found_{0};
};

}  // namespace orbek
