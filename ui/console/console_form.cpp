#include "ui/console/console_form.h"

#include <algorithm>
#include <cctype>

#include "app/line/control_ids.h"

namespace orbek::ui {
namespace {

constexpr int kBarWidth = 40;

// The controls a person reads, with the label each change is printed under.
const char* LabelOf(int controlId) {
  switch (controlId) {
    case control::kInstruction1:
    case control::kInstruction2:
    case control::kInstruction3:
    case control::kInstruction4:
    case control::kInstruction5:
    case control::kWarning1:
    case control::kWarning2:
    case control::kWarning3:
    case control::kDurationNote:
      return "";
    case control::kStatus[0]:
      return "Status: ";
    case control::kPort[0]:
      return "Port: ";
    case control::kFirmwareVersion:
      return "Firmware: ";
    case control::kWindowsVersion:
      return "Windows: ";
    case control::kMacVersion:
      return "Mac: ";
    default:
      return nullptr;
  }
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

ConsoleForm::ConsoleForm(std::FILE* out, std::FILE* in, bool interactiveTerminal, bool answerYes)
    : out_(out), in_(in), terminal_(interactiveTerminal), answerYes_(answerYes) {}

void ConsoleForm::PrintLine(const std::string& text) {
  if (barDrawn_)
    std::fputc('\n', out_);
  barDrawn_ = false;
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void ConsoleForm::DrawProgress(int percent) {
  if (percent == lastPercent_)
    return;
  lastPercent_ = percent;
  if (!terminal_) {
    PrintLine("Progress: " + std::to_string(percent) + "%");
    return;
  }
  const int filled = percent * kBarWidth / 100;
  std::fprintf(out_, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(kBarWidth - filled), '.').c_str(), percent);
  std::fflush(out_);
  barDrawn_ = true;
}

void ConsoleForm::SetText(int controlId, const std::string& utf8) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::string& shown = texts_[controlId];
  if (shown == utf8)
    return;
  shown = utf8;
  const char* label = LabelOf(controlId);
  if (label != nullptr && !utf8.empty())
    PrintLine(label + utf8);
}

void ConsoleForm::Enable(int controlId, bool enabled) {
  std::lock_guard<std::mutex> hold(mutex_);
  enabled_[controlId] = enabled;
}

bool ConsoleForm::Enabled(int controlId) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = enabled_.find(controlId);
  return found == enabled_.end() || found->second;
}

void ConsoleForm::SetProgressRange(int, int, int) {}

void ConsoleForm::SetProgressPosition(int controlId, int position) {
  if (controlId != control::kProgressBar[0])
    return;
  std::lock_guard<std::mutex> hold(mutex_);
  DrawProgress(std::max(0, std::min(position, 100)));
}

bool ConsoleForm::SetPicture(int, int) {
  return true;
}

int ConsoleForm::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  std::lock_guard<std::mutex> hold(mutex_);
  const bool yesNo = (style & 0x0F) == box::kYesNo;
  PrintLine("== " + caption + " ==");
  PrintLine(text);
  std::fprintf(out_, "%s ", yesNo ? "[Yes/No]" : "[OK]");
  if (answerYes_) {
    std::fprintf(out_, "%s\n", yesNo ? "Yes" : "OK");
    std::fflush(out_);
    return yesNo ? box::kAnswerYes : box::kAnswerOk;
  }
  std::fflush(out_);
  char line[256];
  const bool read = std::fgets(line, sizeof line, in_) != nullptr;
  if (!terminal_)
    std::fputc('\n', out_);
  if (!yesNo)
    return box::kAnswerOk;
  const std::string answer = read ? Lower(line) : "";
  return answer.rfind("y", 0) == 0 ? box::kAnswerYes : box::kAnswerNo;
}

}  // namespace orbek::ui
