#include "app/varnel_view.h"

#include <algorithm>

#include "diag/diag_commands.h"
#include "download/dmss.h"
#include "download/streaming.h"
#include "line/control_ids.h"
#include "line/form_texts.h"
#include "log/factory_log.h"
#include "nv/stick_identity.h"
#include "package/release_data.h"
#include "platform/files.h"
#include "platform/text_format.h"
#include "ports/port_scanner.h"

namespace orbek {

CVarnelView::CVarnelView(Form& form, CVarnelDoc& doc, bool useGerman, std::string logDirectory)
    : factoryLogPath(platform::JoinPath(platform::UserDataDirectory(), kFactoryLogName)),
      form_(form),
      doc_(doc),
      useGerman_(useGerman),
      logDirectory_(std::move(logDirectory)) {}

void CVarnelView::ApplyLanguageTexts() {
  for (const LanguageText& text : kLanguageTexts) {
    form_.SetText(text.controlId, useGerman_ ? text.german : text.english);
  }
  form_.Invalidate();
}

int CVarnelView::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  return form_.MessageBox(text, caption, style);
}

void CVarnelView::SetLineStatus(int line, const std::string& text, bool stamped) {
  LineSession& session = Line(line);
  if (stamped)
    session.statusLog += StatusStamp(now()) + "——";
  session.statusLog += text + "\n";
  form_.SetText(control::kStatus[line], text);
}

void CVarnelView::SetLineProgress(int line, int percent) {
  const int bar = control::kProgressBar[line];
  if (percent == 0) {
    form_.SetProgressRange(bar, 0, 100);
    form_.SetProgressPosition(bar, 0);
  } else {
    form_.SetProgressPosition(bar, percent);
  }
  Line(line).progress = percent;
  form_.SetText(control::kPercent[line], Format("%d%c", std::min(percent, 100), '%'));
}

void CVarnelView::SetLineState(int line, int state) {
  static const struct {
    int bitmap;
    const char* failure;
  } kStates[] = {
      {control::kBitmapReady, "Load Ready图标失败!"},
      {control::kBitmapRunning, "Load Running图标失败!"},
      {control::kBitmapPass, "Load Pass图标失败!"},
      {control::kBitmapFail, "Load Fail图标失败!"},
  };
  if (state < kLineReady || state > kLineFail) {
    form_.MessageBox("出现不可知的状态类型!", kApplicationTitle, box::kOk);
    return;
  }
  Line(line).state = state;
  if (!form_.SetPicture(control::kStatePicture[line], kStates[state].bitmap)) {
    form_.MessageBox(kStates[state].failure, kApplicationTitle, box::kOk);
  }
}

void CVarnelView::ShowLinePort(int line) {
  const int32_t port = Line(line).diagPort;
  std::string text = port > 1 ? Format("COM%d", port) : std::string("NULL");
  if (doc_.severalLines) {
    // The socket that the line keeps, so that a person can label the hub.
    std::lock_guard<std::mutex> hold(bindingMutex_);
    if (const std::optional<std::string> socket = binding_.LocationOf(line))
      text += "  " + *socket;
  }
  form_.SetText(control::kPort[line], text);
}

void CVarnelView::ShowLineVersions(int line, const LineVersions& versions) {
  if (doc_.severalLines) {
    ShowFactoryLineVersions(line, versions);
    return;
  }
  if (line != 0) {
    form_.SetText(control::kFirmware[line], versions.firmware);
    return;
  }
  form_.SetText(control::kFirmwareVersion, versions.firmware);
  form_.SetText(control::kWindowsVersion, versions.windows);
  form_.SetText(control::kMacVersion, versions.mac);
  if (versions.ready || versions.inDownloadMode) {
    form_.SetText(control::kStatus[0], versions.ready
                                           ? Text(kReadyText, kReadyTextGerman)
                                           : Text(kDownloadModeText, kDownloadModeTextGerman));
    form_.Enable(control::kUpdateButton, Line(0).busy == 0);
  } else {
    form_.SetText(control::kStatus[0], Text(kSearchingText, kSearchingTextGerman));
    form_.Enable(control::kUpdateButton, false);
  }
}

// Every line as line 0 of the product: its firmware, its ready or searching text, and its start
// button usable when its stick is ready.
void CVarnelView::ShowFactoryLineVersions(int line, const LineVersions& versions) {
  form_.SetText(control::kFirmware[line], versions.firmware);
  const bool idle = Line(line).busy == 0;
  const bool startable = versions.ready || versions.inDownloadMode;
  if (!idle)
    return;  // the worker owns the status line
  // The result of the line's last operation stays while its stick is away and when it comes
  // back; another stick in the socket takes it away.
  const size_t index = static_cast<size_t>(line);
  if (resultShown_[index] && startable &&
      IdentityContradicts(resultIdentity_[index], Line(line).identity))
    ClearLineResult(line);
  if (!resultShown_[index]) {
    const char* text = !startable       ? Text(kSearchingText, kSearchingTextGerman)
                       : versions.ready ? Text(kReadyText, kReadyTextGerman)
                                        : Text(kDownloadModeText, kDownloadModeTextGerman);
    form_.SetText(control::kStatus[line], text);
  }
  form_.Enable(control::kStartButton[line], startable);
  lineReady_[index] = startable;
}

std::optional<std::string> CVarnelView::StickLocationOf(int line) {
  if (!doc_.severalLines) {
    // An update keeps to its stick's socket: another stick plugged in meanwhile is not its.
    const LineSession& product = Line(0);
    return product.busy != 0 ? product.socket : std::string();
  }
  const std::vector<std::string> present = PortScanner::StickLocations();
  std::lock_guard<std::mutex> hold(bindingMutex_);
  binding_.Update(present, [this](int other) { return Line(other).busy != 0; });
  return binding_.LocationOf(line);
}

void CVarnelView::KeepFoundPorts(int line, std::optional<int32_t> diagPort,
                                 std::optional<int32_t> dataPort, const std::string& location) {
  LineSession& session = Line(doc_.severalLines ? line : 0);
  if (diagPort)
    session.diagPort = *diagPort;
  if (dataPort)
    session.dataPort = *dataPort;
  if (!location.empty())
    session.socket = location;
}

void CVarnelView::ChooseNvDirectory(const std::optional<std::string>& chosen) {
  if (chosen)
    doc_.SetNvDirectory(*chosen);
  factory_.nvDirectoryText = Line(0).nvDirectory;
  form_.SetText(control::kNvDirectoryEdit, factory_.nvDirectoryText);
}

void CVarnelView::ChooseDefaultNvFile(const std::optional<std::string>& chosen) {
  if (!chosen)
    return;
  factory_.defaultNvFileText = *chosen;
  form_.SetText(control::kDefaultNvFileEdit, *chosen);
  doc_.defaultNvFile = *chosen;
}

void CVarnelView::SetNvMode(int value) {
  if (value < 0 || value > 3)
    return;
  doc_.nvMode = value;
  factory_.nvModeChoice = value;
  form_.Check(control::kNvModeRadio[value]);
}

void CVarnelView::CompleteForm() {
  form_.FitFrameToForm();
  form_.SetFrameTitle(kApplicationTitle);
  form_.SetText(control::kReleaseFirmwareVersion,
                std::string(ORBEK_RELEASE_FIRMWARE) + " (Firmware)");
  form_.SetText(control::kReleaseWindowsVersion, std::string(ORBEK_RELEASE_WINDOWS) + " (Windows)");
  form_.SetText(control::kReleaseMacVersion, std::string(ORBEK_RELEASE_MAC) + " (Mac)");
}

void CVarnelView::ResetFactoryDataPorts() {
  factory_.dataPortTexts.fill("");
}

void CVarnelView::FillFactoryControls() {
  factory_.nvDirectoryText = Line(0).nvDirectory;
  factory_.defaultNvFileText = doc_.defaultNvFile;
  if (doc_.severalLines) {  // the product keeps them as state only
    form_.SetText(control::kNvDirectoryEdit, factory_.nvDirectoryText);
    form_.SetText(control::kDefaultNvFileEdit, factory_.defaultNvFileText);
  }
  for (int line = 0; line < kLineCount; ++line) {
    const int32_t port = Line(line).dataPort;
    factory_.dataPortTexts[static_cast<size_t>(line)] = port > 1 ? Format("COM%d", port) : "";
  }
}

void CVarnelView::SetFactoryDefaults() {
  factory_.downloadVariantChoice = 0;
  factory_.nvModeChoice = 2;  // "Restore RF NV and IMEI"
  if (doc_.severalLines)
    form_.Check(control::kNvModeRadio[2]);
  factory_.eraseBootChecked = true;
  factory_.eraseBootEnabled = false;
}

void CVarnelView::ResetLineFactoryFlags(int line) {
  factory_.lineFlags[static_cast<size_t>(line)] = false;
}

void CVarnelView::EnableLineControls(int line, bool enable) {
  // With several lines, a line starts only with its stick ready: a start on an empty line would
  // meet no board tag and close the program.
  const bool startable = !doc_.severalLines || lineReady_[static_cast<size_t>(line)];
  form_.Enable(control::kStartButton[line], enable && startable);
  form_.Enable(control::kStopButton[line], !enable);
  bool anyBusy = false;
  bool allBusy = true;
  for (const LineSession& session : doc_.lines) {
    const bool busy = session.busy != 0;
    anyBusy = anyBusy || busy;
    allBusy = allBusy && busy;
  }
  for (int id : control::kSharedSettings)
    form_.Enable(id, !anyBusy);
  for (int id : control::kLineSetting)
    form_.Enable(id, !anyBusy);
  form_.Enable(control::kStopAll, anyBusy);
  form_.Enable(control::kStartAll, !allBusy);
}

void CVarnelView::WriteLineLog(int line) {
  WriteActionLog(logDirectory_, line, Line(line).statusLog, now());
}

void CVarnelView::EndLineOperation(int line, const std::string& text, int outcome) {
  SetLineStatus(line, text, true);
  WriteActionLog(logDirectory_, line, Line(line).statusLog, now());
  SetLineStatus(line, text, true);
  FinishLineOperation(line, text, outcome);
}

void CVarnelView::NoteLineStarted(int line) {
  const size_t index = static_cast<size_t>(line);
  started_[index] = {now(), Line(line).currentVersion};
  resultShown_[index] = false;
}

void CVarnelView::ClearLineResult(int line) {
  resultShown_[static_cast<size_t>(line)] = false;
  SetLineState(line, kLineReady);
  SetLineProgress(line, 0);
  form_.SetText(control::kPercent[line], "");
}

void CVarnelView::ShowTally(const std::string& note) {
  std::string text = Format(Text("Passed: %d   Failed: %d", "Bestanden: %d   Fehlgeschlagen: %d"),
                            passed_.load(), failed_.load());
  if (!note.empty())
    text += "   " + note;
  form_.SetText(control::kFactoryTally, text);
}

// One record in the production log, and the tally on the form.
void CVarnelView::RecordFactoryOperation(int line, const std::string& text, int outcome) {
  const LineSession& session = Line(line);
  const bool passed = outcome == kOutcomeRestored || outcome == kOutcomeBackedUp;
  ++(passed ? passed_ : failed_);
  const LineStart& start = started_[static_cast<size_t>(line)];
  FactoryRecord record;
  record.start = start.time;
  record.end = now();
  record.line = line + 1;
  record.socket = session.socket;
  record.esn = session.identity.esn ? Format("%08X", *session.identity.esn) : "";
  record.imei = session.identity.imei;
  record.firmwareBefore = start.firmware;
  // An update that passed leaves the package's firmware; anything else leaves the stick's.
  record.firmwareAfter = passed && session.operation == kOperationUpdate
                             ? std::string(ORBEK_RELEASE_FIRMWARE)
                             : start.firmware;
  record.operation = ChoiceOf(session.operation).logName;
  record.result = passed ? "pass" : outcome == kOutcomeStopped ? "stopped" : "fail";
  record.failure = passed ? "" : text;
  record.backupFile = session.nvFileUsed.empty() ? "" : platform::DisplayPath(session.nvFileUsed);
  platform::CreateDirectories(platform::UserDataDirectory());
  if (!AppendFactoryRecord(factoryLogPath, record)) {
    SetLineStatus(line,
                  Format(Text("The production log %s cannot be written.",
                              "Das Produktionsprotokoll %s kann nicht geschrieben werden."),
                         platform::DisplayPath(factoryLogPath).c_str()),
                  true);
  }
  ShowTally();
}

namespace {

// Restarts the stick in the protocol its link last spoke. After the streaming protocol the
// stick runs the flash programmer or, when the programmer never started, still its boot
// loader: the firmware's reset would reach neither, and the stick would stay in download mode
// without a word. So the programmer's reset first (once), and the boot loader's when no
// programmer acknowledged it.
void ResetStick(PhoneLink& link, LinkMode lastMode) {
  switch (lastMode) {
    case LinkMode::Dload:
      DloadReset(link);
      return;
    case LinkMode::Streaming:
      if (!StreamResetAcknowledged(link))
        DloadReset(link);
      return;
    default:
      ResetPhone(link);
  }
}

}  // namespace

void CVarnelView::FinishLineOperation(int line, const std::string& text, int outcome) {
  LineSession& session = Line(line);
  const LinkMode lastMode = session.link.mode;  // before the reset speaks
  const bool passed = outcome == kOutcomeRestored || outcome == kOutcomeBackedUp;
  SetLineState(line, passed ? kLinePass : kLineFail);
  if (doc_.severalLines)
    RecordFactoryOperation(line, text, outcome);
  if (outcome == kOutcomeRestored || outcome == kOutcomeStopped || outcome == kOutcomeFailed) {
    session.stickState = kStickSilent;
    ResetStick(session.link, lastMode);
  }
  if (outcome == kOutcomeFailedLeaveStick && lastMode == LinkMode::Dload) {
    const char* text = doc_.severalLines
                           ? "线路%d任务失败，请手动重启相应手机"
                           : Text(
                                 "Line %d: the operation failed; please restart the stick by "
                                 "hand (unplug it and plug it in again).",
                                 "Linie %d: der Vorgang ist fehlgeschlagen; bitte das Gerät von "
                                 "Hand neu starten (ab- und wieder anstecken).");
    form_.MessageBox(Format(text, line + 1), kApplicationTitle, box::kOk);
  }
  const size_t index = static_cast<size_t>(line);
  resultIdentity_[index] = session.identity;
  resultShown_[index] = true;
  session.busy = 0;
  lineReady_[index] = false;  // until its search shows the stick again
  EnableLineControls(line, true);
  // A row keeps its bar where the operation ended (full when it passed); the product's starts
  // again from nothing.
  if (!doc_.severalLines)
    SetLineProgress(line, 0);
  else if (passed)
    SetLineProgress(line, 100);
  if (session.searchThread)
    session.searchThread->Resume();
}

}  // namespace orbek
