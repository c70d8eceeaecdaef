// A line as its worker holds it: the line's record, its index, the shared choices it reads, and
// the window operations it reports through, already addressed to this line.
#pragma once

#include <optional>
#include <string>

#include "line/line_report.h"
#include "line/line_session.h"

namespace orbek {

class LineHandle {
 public:
  LineHandle(LineSession& session, UpdateChoices& choices, LineReport& report)
      : session_(session), choices_(choices), report_(report) {}

  LineSession& session() const { return session_; }
  int index() const { return session_.index; }
  UpdateChoices& choices() const { return choices_; }
  LineReport& report() const { return report_; }

  bool UseGerman() const { return report_.UseGerman(); }
  const char* Text(const char* english, const char* german) const {
    return report_.Text(english, german);
  }
  // With several lines the box says which line it is about.
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) const {
    return report_.MessageBox(choices_.severalLines ? LineNamed(text) : text, caption, style);
  }
  // A text the factory face shows in Chinese, as its other texts are; the product's faces in the
  // system's language.
  const char* FaceText(const char* chinese, const char* english, const char* german) const {
    return choices_.severalLines ? chinese : Text(english, german);
  }
  std::string LineNamed(const std::string& text) const {
    return "Line" + std::to_string(index() + 1) + ": " + text;
  }

  void SetStatus(const std::string& text, bool stamped) const {
    report_.SetLineStatus(index(), text, stamped);
  }
  void SetProgress(int percent) const { report_.SetLineProgress(index(), percent); }
  void SetState(int state) const { report_.SetLineState(index(), state); }
  void ShowPort() const { report_.ShowLinePort(index()); }
  void ShowVersions(const LineVersions& versions) const {
    report_.ShowLineVersions(index(), versions);
  }
  void EndOperation(const std::string& text, int outcome) const {
    report_.EndLineOperation(index(), text, outcome);
  }
  void WriteLog() const { report_.WriteLineLog(index()); }

 private:
  LineSession& session_;
  UpdateChoices& choices_;
  LineReport& report_;
};

}  // namespace orbek
