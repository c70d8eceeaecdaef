// The view logic of the form: which text goes to which control, the language, the enabling
// rules, the message boxes, and the window operations every worker reports through. It draws
// through a Form; its operations may be called from any thread.
#pragma once

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/form.h"
#include "app/line_session.h"
#include "log/action_log.h"

namespace orbek {

// How an operation ended: 0 and 1 pass, 2 to 5 fail (see EndLineOperation).
enum Outcome : int {
  kOutcomeRestored = 0,
  kOutcomeBackedUp = 1,
  kOutcomeStopped = 2,
  kOutcomeFailed3 = 3,
  kOutcomeFailed = 4,
  kOutcomeFailedLeaveStick = 5
};

class CVarnelView {
 public:
  CVarnelView(Form& form, CVarnelDoc& doc, bool useGerman, std::string logDirectory);

  Form& form() { return form_; }
  CVarnelDoc& doc() { return doc_; }
  LineSession& Line(int line) { return doc_.lines[static_cast<size_t>(line)]; }
  bool useGerman() const { return useGerman_; }
  // The text in the chosen language.
  const char* Text(const char* english, const char* german) const {
    return useGerman_ ? german : english;
  }

  // The line a new thread learns its index from.
  std::atomic<int> currentLine{0};
  // The local time of the stamps (replaceable for tests).
  std::function<LocalTime()> now = LocalTimeNow;
  // Ends the program with an exit status once an update has succeeded (the face that runs the
  // view decides how; tests record it).
  std::function<void(int status)> exitProgram = [](int status) { std::exit(status); };

  void ApplyLanguageTexts();
  void SetLineStatus(int line, const std::string& text, bool stamped);
  void SetLineProgress(int line, int percent);
  void SetLineState(int line, int state);
  void ShowLinePort(int line);
  void EnableLineControls(int line, bool enable);
  void EndLineOperation(int line, const std::string& text, int outcome);

 private:
  void FinishLineOperation(int line, int outcome, bool inDownloadMode);

  Form& form_;
  CVarnelDoc& doc_;
  const bool useGerman_;
  const std::string logDirectory_;
};

}  // namespace orbek
