#include "ui/console/console_form.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "line/control_ids.h"
#include "line/form_texts.h"
#include "platform/text_format.h"

namespace orbek::ui {
namespace {

constexpr int kBarWidth = 40;
constexpr const char* kClearLine = "\r\x1b[K";

// Value controls shown on one line under the form's label of their group. The view writes a
// group's controls in this order, so the line is printed when its last control is written.
struct LabelledGroup {
  int label;
  std::initializer_list<int> members;
};
const LabelledGroup kGroups[] = {
    {control::kPortLabel, {control::kPort[0]}},
    {control::kCurrentVersionLabel,
     {control::kFirmwareVersion, control::kWindowsVersion, control::kMacVersion}},
    {control::kUpdateVersionLabel,
     {control::kReleaseFirmwareVersion, control::kReleaseWindowsVersion,
      control::kReleaseMacVersion}},
};

const LabelledGroup* GroupOf(int controlId) {
  for (const LabelledGroup& group : kGroups) {
    if (std::find(group.members.begin(), group.members.end(), controlId) != group.members.end())
      return &group;
  }
  return nullptr;
}

// Texts shown as they are: the instructions, warnings and the duration note, and the status.
bool ShownAsItIs(int controlId) {
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
    case control::kStatus[0]:
    case control::kFactoryTally:
      return true;
    default:
      return false;
  }
}

bool Blank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The line without the blanks around it.
std::string Trimmed(const std::string& line) {
  const auto first = std::find_if_not(line.begin(), line.end(), Blank);
  const auto last = std::find_if_not(line.rbegin(), line.rend(), Blank).base();
  return first < last ? std::string(first, last) : std::string();
}

}  // namespace

ConsoleForm::ConsoleForm(std::FILE* out, bool interactiveTerminal, bool answerYes,
                         bool severalLines)
    : out_(out),
      terminal_(interactiveTerminal),
      answerYes_(answerYes),
      severalLines_(severalLines) {
  lineProgress_.fill(-1);
}

std::string ConsoleForm::Footer() const {
  if (!boxes_.empty())
    return boxes_.front()->prompt;
  if (severalLines_)
    return LinesProgressLine();
  return progress_ >= 0 ? ProgressLine() : std::string();
}

void ConsoleForm::ClearFooter() {
  if (footerShown_)
    std::fputs(kClearLine, out_);
  footerShown_ = false;
}

void ConsoleForm::DrawFooter() {
  const std::string footer = Footer();
  if (!terminal_ || footer.empty())
    return;
  std::fputs(footer.c_str(), out_);
  footerShown_ = true;
}

void ConsoleForm::Emit(const std::string& line, bool repeatPrompt) {
  if (terminal_) {
    ClearFooter();
    std::fprintf(out_, "%s\n", line.c_str());
    DrawFooter();
  } else {
    std::fprintf(out_, "%s\n", line.c_str());
    if (!boxes_.empty() && repeatPrompt)  // the waiting box's prompt after what others wrote
      std::fprintf(out_, "%s\n", boxes_.front()->prompt.c_str());
  }
  std::fflush(out_);
}

std::string ConsoleForm::LabelText(int labelId) const {
  auto found = texts_.find(labelId);
  return found != texts_.end() ? found->second : std::string();
}

std::string ConsoleForm::ProgressLine() const {
  auto percent = texts_.find(control::kPercent[0]);
  const std::string shown = percent != texts_.end() ? percent->second : std::string();
  const int filled = std::clamp(progress_, 0, 100) * kBarWidth / 100;
  return LabelText(control::kProgressLabel) + " [" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " + shown;
}

std::string ConsoleForm::LinesProgressLine() const {
  std::string line;
  for (size_t i = 0; i < lineProgress_.size(); ++i) {
    if (lineProgress_[i] < 0)
      continue;
    line +=
        Format("%sL%d %3d%%", line.empty() ? "" : "  ", static_cast<int>(i) + 1, lineProgress_[i]);
  }
  return line.empty() ? line : LabelText(control::kProgressLabel) + " " + line;
}

bool ConsoleForm::ShowLineControl(int controlId, const std::string& utf8,
                                  const std::string& before) {
  for (size_t line = 0; line < lineProgress_.size(); ++line) {
    const int label = controlId == control::kPort[line]       ? control::kPortLabel
                      : controlId == control::kFirmware[line] ? control::kCurrentVersionLabel
                      : controlId == control::kStatus[line]   ? 0
                                                              : -1;
    if (label < 0)
      continue;
    // A line that never had a stick says nothing of its empty port and firmware.
    const bool nothingYet = before.empty() && utf8 == "NULL";
    if (utf8 != before && !utf8.empty() && !nothingYet) {
      const std::string named = Format("Line %d — ", static_cast<int>(line) + 1);
      Emit(label == 0 ? named + utf8 : named + LabelText(label) + " " + utf8);
    }
    return true;
  }
  return false;
}

void ConsoleForm::SetText(int controlId, const std::string& utf8) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::string& shown = texts_[controlId];
  const std::string before = shown;
  const bool changed = shown != utf8;
  shown = utf8;
  if (severalLines_ && ShowLineControl(controlId, utf8, before))
    return;
  if (const LabelledGroup* group = GroupOf(controlId)) {
    changedGroups_[group->label] = changedGroups_[group->label] || changed;
    if (controlId != *(group->members.end() - 1) || !changedGroups_[group->label])
      return;
    changedGroups_[group->label] = false;
    std::string line = LabelText(group->label);
    const char* separator = " ";
    for (int member : group->members) {
      line += separator + texts_[member];
      separator = ", ";
    }
    Emit(line);
    return;
  }
  if (!changed)
    return;
  if (controlId == control::kPercent[0]) {
    if (terminal_) {
      ClearFooter();
      DrawFooter();
      std::fflush(out_);
    }
    return;
  }
  if (!utf8.empty() && ShownAsItIs(controlId)) {
    const ControlColour* colour = ColourOf(controlId);
    if (terminal_ && colour != nullptr) {
      Emit(Format("\x1b[38;2;%d;%d;%dm%s\x1b[0m", colour->red, colour->green, colour->blue,
                  utf8.c_str()));
    } else {
      Emit(utf8);
    }
  }
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

std::string ConsoleForm::Text(int controlId) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = texts_.find(controlId);
  return found != texts_.end() ? found->second : std::string();
}

void ConsoleForm::SetProgressRange(int, int, int) {}

void ConsoleForm::SetProgressPosition(int controlId, int position) {
  if (severalLines_) {
    const auto bar =
        std::find(std::begin(control::kProgressBar), std::end(control::kProgressBar), controlId);
    if (bar == std::end(control::kProgressBar))
      return;
    const size_t line = static_cast<size_t>(bar - std::begin(control::kProgressBar));
    std::lock_guard<std::mutex> hold(mutex_);
    const int percent = std::clamp(position, 0, 100);
    if (percent == lineProgress_[line])
      return;
    lineProgress_[line] = percent;
    if (terminal_) {
      ClearFooter();
      DrawFooter();
      std::fflush(out_);
    } else {
      Emit(Format("Line %d — %s %d%%", static_cast<int>(line) + 1,
                  LabelText(control::kProgressLabel).c_str(), percent),
           /*repeatPrompt=*/false);
    }
    return;
  }
  if (controlId != control::kProgressBar[0])
    return;
  std::lock_guard<std::mutex> hold(mutex_);
  const int percent = std::clamp(position, 0, 100);
  if (percent == progress_)
    return;
  progress_ = percent;
  if (terminal_) {
    ClearFooter();
    DrawFooter();
    std::fflush(out_);
  } else {
    Emit(ProgressLine(), /*repeatPrompt=*/false);  // a progress line is not worth it
  }
}

bool ConsoleForm::SetPicture(int controlId, int bitmapId) {
  if (!severalLines_)
    return true;
  const auto picture =
      std::find(std::begin(control::kStatePicture), std::end(control::kStatePicture), controlId);
  const char* state = bitmapId == control::kBitmapRunning ? "Running"
                      : bitmapId == control::kBitmapPass  ? "Pass"
                      : bitmapId == control::kBitmapFail  ? "Fail"
                                                          : nullptr;
  if (picture == std::end(control::kStatePicture))
    return true;
  const size_t line = static_cast<size_t>(picture - std::begin(control::kStatePicture));
  std::lock_guard<std::mutex> hold(mutex_);
  if (state != nullptr && lineState_[line] != bitmapId)
    Emit(Format("Line %d — %s", static_cast<int>(line) + 1, state));
  lineState_[line] = bitmapId;
  return true;
}

void ConsoleForm::SetFrameTitle(const std::string& utf8) {
  std::lock_guard<std::mutex> hold(mutex_);
  Emit("== " + utf8 + " ==");
}

int ConsoleForm::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto box = std::make_shared<PendingBox>();
  box->yesNo = (style & 0x0F) == box::kYesNo;
  box->prompt = box->yesNo ? "[Yes/No] " : "[OK] ";
  Emit("== " + caption + " ==");
  Emit(text);
  if (answerYes_ || inputEnded_) {
    // Answered at once: Yes and OK for automation, but No to a question whose safe answer is No;
    // OK and No when nobody can type any more.
    const bool yes = answerYes_ && (style & box::kDefaultNo) == 0;
    box->answer = box->yesNo ? (yes ? box::kAnswerYes : box::kAnswerNo) : box::kAnswerOk;
    Emit(box->prompt + (box->answer == box::kAnswerYes  ? "Yes"
                        : box->answer == box::kAnswerNo ? "No"
                                                        : "OK"));
    return box->answer;
  }
  boxes_.push_back(box);
  if (boxes_.size() == 1) {
    if (terminal_) {
      ClearFooter();
      DrawFooter();
    } else {
      std::fprintf(out_, "%s\n", box->prompt.c_str());
    }
    std::fflush(out_);
  }
  answered_.wait(lock, [&] { return box->answered; });
  return box->answer;
}

void ConsoleForm::Typed(const std::string& typed) {
  const std::string line = Trimmed(typed);
  std::lock_guard<std::mutex> hold(mutex_);
  footerShown_ = false;  // the terminal echoed the line and its end: the footer scrolled away
  if (boxes_.empty()) {
    commands_.push_back(line);
    DrawFooter();
    std::fflush(out_);
    return;
  }
  std::shared_ptr<PendingBox> box = boxes_.front();
  boxes_.pop_front();
  const bool yes = !line.empty() && std::tolower(static_cast<unsigned char>(line[0])) == 'y';
  box->answer = !box->yesNo ? box::kAnswerOk : yes ? box::kAnswerYes : box::kAnswerNo;
  box->answered = true;
  answered_.notify_all();
  if (!boxes_.empty() && !terminal_)
    std::fprintf(out_, "%s\n", boxes_.front()->prompt.c_str());
  DrawFooter();
  std::fflush(out_);
}

void ConsoleForm::AnswerWaitingBoxesSafely() {
  std::deque<std::shared_ptr<PendingBox>> waiting;
  waiting.swap(boxes_);
  for (const std::shared_ptr<PendingBox>& box : waiting) {
    box->answer = box->yesNo ? box::kAnswerNo : box::kAnswerOk;
    box->answered = true;
    Emit(box->prompt + (box->yesNo ? "No" : "OK"));
  }
  answered_.notify_all();
}

void ConsoleForm::InputEnded() {
  std::lock_guard<std::mutex> hold(mutex_);
  inputEnded_ = true;
  AnswerWaitingBoxesSafely();
}

bool ConsoleForm::InputHasEnded() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return inputEnded_;
}

bool ConsoleForm::CloseWaitingBoxes() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (boxes_.empty())
    return false;
  AnswerWaitingBoxesSafely();
  return true;
}

std::optional<std::string> ConsoleForm::TakeCommand() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (commands_.empty())
    return std::nullopt;
  std::string command = commands_.front();
  commands_.pop_front();
  return command;
}

void ConsoleForm::EndOutput() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (footerShown_)
    std::fputc('\n', out_);
  footerShown_ = false;
  std::fflush(out_);
}

void ConsoleForm::Say(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  Emit(text);
}

}  // namespace orbek::ui
