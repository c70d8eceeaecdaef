#include "update/port_search.h"

#include "app/control_ids.h"
#include "app/form_texts.h"
#include "diag/diag_commands.h"
#include "platform/text_format.h"
#include "ports/port_scanner.h"

namespace orbek {
namespace {

constexpr int kBaud = 115200;
constexpr int kChecksBetweenClears = 5;
constexpr size_t kWindowsSlot = 2;  // the third string
constexpr size_t kMacSlot = 4;      // the fifth string
constexpr size_t kSlotSize = 31;

void Reopen(SerialPort& port, int32_t comNumber) {
  port.Close();
  port.Open(comNumber, kBaud, 8, 1);
}

void ClearSlot(VersionRecord& record, size_t slot) {
  std::fill_n(record.begin() + static_cast<ptrdiff_t>(slot * kSlotSize), kSlotSize, 0);
}

}  // namespace

bool ProbeStick(LineSession& line) {
  PhoneLink& link = line.link;
  if (!CheckCommunication(link)) {
    line.stickState = kStickSilent;
    line.currentVersion = "NULL";
    return false;
  }
  if (ReadFourVersions(link, line.versionRecord)) {
    line.currentVersion = VersionSlot(line.versionRecord, 0);
    line.stickState = kStickAnswers;
    return true;
  }
  std::array<uint8_t, kBuildIdSize> buildId{};
  if (ReadBuildId(link, buildId)) {
    const char* text = reinterpret_cast<const char*>(buildId.data());
    line.currentVersion.assign(text, std::find(text, text + buildId.size(), '\0'));
    line.stickState = kStickAnswers;
    return true;
  }
  uint32_t esn = 0;
  if (ReadEsn(link, esn)) {
    line.currentVersion = Format("%x", esn);
    line.stickState = kStickAnswers;
    return true;
  }
  line.stickState = kStickSilent;
  line.currentVersion = "NULL";
  return false;
}

void ShowLineVersions(CVarnelView& view, int line) {
  LineSession& session = view.Line(line);
  std::string firmware = session.currentVersion;
  std::string windows = VersionSlot(session.versionRecord, kWindowsSlot);
  std::string mac = VersionSlot(session.versionRecord, kMacSlot);
  if (!windows.empty()) {
    firmware += " (Firmware)";
    windows += " (Windows)";
    mac += " (Mac)";
  } else {
    firmware = windows = mac = "NULL";
  }
  Form& form = view.form();
  if (line != 0) {
    form.SetText(control::kFirmware[line], firmware);
    return;
  }
  form.SetText(control::kFirmwareVersion, firmware);
  form.SetText(control::kWindowsVersion, windows);
  form.SetText(control::kMacVersion, mac);
  const bool ready = firmware != "NULL" && firmware != "No Phone";
  if (ready) {
    form.SetText(control::kStatus[0], view.Text(kReadyText, kReadyTextGerman));
    form.Enable(control::kUpdateButton, session.busy == 0);
  } else {
    form.SetText(control::kStatus[0], view.Text(kSearchingText, kSearchingTextGerman));
    form.Enable(control::kUpdateButton, false);
  }
}

void PortSearchThread(platform::SuspendableThread& thread, CVarnelView& view) {
  const int line = view.currentLine;
  LineSession& session = view.Line(line);
  LineSession& first = view.Line(0);
  PortScanner scanner(first.diagPort, first.dataPort);

  view.SetLineStatus(line, view.Text(kSearchingText, kSearchingTextGerman), true);
  Reopen(session.link.port, session.diagPort);
  while (thread.SafePoint()) {
    for (int failed = 1; !scanner.FindPorts(line); ++failed) {
      if (!thread.SafePoint())
        return;
      if (failed % kChecksBetweenClears == 0) {
        ClearSlot(session.versionRecord, kWindowsSlot);
        ClearSlot(session.versionRecord, kMacSlot);
        ShowLineVersions(view, line);
        view.ShowLinePort(line);
      }
    }
    if (!thread.SafePoint())
      return;
    Reopen(session.link.port, session.diagPort);
    Reopen(session.atPort.port, session.dataPort);

    if (!SendSpc(session.link)) {
      if (!thread.SleepMs(300))
        return;
      SendSpc(session.link);
    }
    if (!thread.SleepMs(50))
      return;

    uint32_t pause = 1000;
    if (!ProbeStick(session)) {
      Reopen(session.link.port, session.diagPort);
      if (ProbeStick(session)) {
        pause = 2000;
      } else {
        session.stickState = kStickSilent;
      }
    }
    ShowLineVersions(view, line);
    view.ShowLinePort(line);
    if (!thread.SleepMs(pause))
      return;
  }
}

void StartSearchThread(CVarnelView& view, int line) {
  LineSession& session = view.Line(line);
  if (session.searchThread)
    session.searchThread->Suspend();
  view.currentLine = line;
  session.searchThread = std::make_unique<platform::SuspendableThread>(
      [&view](platform::SuspendableThread& thread) { PortSearchThread(thread, view); });
  session.searchThread->Resume();
}

}  // namespace orbek
