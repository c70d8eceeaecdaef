// The form on a terminal. Every visible control is shown: the instructions and warnings, the
// port, the current and the update versions under the form's own labels (in the form's
// language), the status line, and the progress with its percentage. On a terminal the progress
// bar, or the prompt of a message box waiting for its answer, stays on the last line and the
// rest scrolls above it; otherwise every change is one line, for logs and automation.
//
// Input comes from whoever reads the person's lines (Typed): a waiting message box takes the
// next line as its answer, any other line is a command for the program (TakeCommand). A box
// blocks only the thread that shows it; the others keep drawing.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/form.h"

namespace orbek::ui {

class ConsoleForm final : public Form {
 public:
  // `answerYes`: every box is answered OK or Yes at once (No where No is the default). On a
  // terminal the warnings are drawn in their red. With `severalLines` every line's port,
  // firmware, status, state and progress are shown, each named by its line.
  ConsoleForm(std::FILE* out, bool interactiveTerminal, bool answerYes, bool severalLines = false);

  void SetText(int controlId, const std::string& utf8) override;
  void Enable(int controlId, bool enabled) override;
  void SetProgressRange(int controlId, int low, int high) override;
  void SetProgressPosition(int controlId, int position) override;
  bool SetPicture(int controlId, int bitmapId) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
  void Invalidate() override {}
  void RequestClose() override { closeRequested_ = true; }
  void SetFrameTitle(const std::string& utf8) override;
  void FitFrameToForm() override {}

  // A line the person typed, without its line end; the blanks around it do not count.
  void Typed(const std::string& typed);
  // The input has ended: waiting and later boxes are answered at once (OK, or No).
  void InputEnded();
  bool InputHasEnded() const;
  // Ctrl-C while boxes wait: each is closed as the window's close would, OK (or No). False
  // when no box was waiting.
  bool CloseWaitingBoxes();
  // The oldest command typed while no box was waiting.
  std::optional<std::string> TakeCommand();
  // A line of the console's own.
  void Say(const std::string& text);
  // The output's end: the last line is finished.
  void EndOutput();

  bool Enabled(int controlId) const;
  std::string Text(int controlId) const;
  // True once after each close request.
  bool TakeCloseRequest() { return closeRequested_.exchange(false); }

 private:
  struct PendingBox {
    std::string prompt;
    bool yesNo = false;
    bool answered = false;
    int answer = 0;
  };

  // Writes one line above the footer, then the footer again; without a terminal, the waiting
  // box's prompt follows it again unless `repeatPrompt` is false. The caller holds mutex_.
  void Emit(const std::string& line, bool repeatPrompt = true);
  // Answers every waiting box OK or No. The caller holds mutex_.
  void AnswerWaitingBoxesSafely();
  // The last line on a terminal: the waiting box's prompt, else the progress bar.
  std::string Footer() const;
  void DrawFooter();
  void ClearFooter();
  std::string LabelText(int labelId) const;
  std::string ProgressLine() const;
  // With several lines: the percentage of every line that has one.
  std::string LinesProgressLine() const;
  // With several lines, a line's port, firmware and status as "Line N — label text" when it
  // changed from `before`; false for any other control.
  bool ShowLineControl(int controlId, const std::string& utf8, const std::string& before);

  std::FILE* out_;
  const bool terminal_;
  const bool answerYes_;
  const bool severalLines_;
  std::array<int, 8> lineProgress_;  // -1: none shown yet
  std::array<int, 8> lineState_{};   // the bitmap shown last
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
  std::map<int, bool> changedGroups_;  // by label: a member changed since the group was shown
  int progress_ = -1;
  bool footerShown_ = false;
  bool inputEnded_ = false;
  std::deque<std::shared_ptr<PendingBox>> boxes_;
  std::deque<std::string> commands_;
  std::atomic<bool> closeRequested_{false};
};

}  // namespace orbek::ui
