// The form on a terminal: instruction texts, port, versions, status and a progress bar, message
// boxes as caption and text with their buttons as a prompt. On a terminal the progress bar is
// redrawn in place; otherwise every change is one line, for logs and automation.
#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "app/form.h"

namespace orbek::ui {

class ConsoleForm final : public Form {
 public:
  // `answerYes`: every box is answered OK or Yes at once, without reading the input.
  ConsoleForm(std::FILE* out, std::FILE* in, bool interactiveTerminal, bool answerYes);

  void SetText(int controlId, const std::string& utf8) override;
  void Enable(int controlId, bool enabled) override;
  void SetProgressRange(int controlId, int low, int high) override;
  void SetProgressPosition(int controlId, int position) override;
  bool SetPicture(int controlId, int bitmapId) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
  void Invalidate() override {}
  void RequestClose() override { closeRequested_ = true; }

  bool Enabled(int controlId) const;
  // True once after each close request.
  bool TakeCloseRequest() { return closeRequested_.exchange(false); }

 private:
  // A line of its own (ends a progress bar being drawn in place).
  void PrintLine(const std::string& text);
  void DrawProgress(int percent);

  std::FILE* out_;
  std::FILE* in_;
  const bool terminal_;
  const bool answerYes_;
  mutable std::mutex mutex_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
  bool barDrawn_ = false;
  int lastPercent_ = -1;
  std::atomic<bool> closeRequested_{false};
};

}  // namespace orbek::ui
