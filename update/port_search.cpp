#include "update/port_search.h"

#include "diag/diag_commands.h"
#include "download/dmss.h"
#include "download/streaming.h"
#include "line/form_texts.h"
#include "nv/stick_identity.h"
#include "platform/serial_channel.h"
#include "platform/text_format.h"
#include "ports/port_scanner.h"

namespace orbek {
namespace {

constexpr int kChecksBetweenClears = 5;
constexpr size_t kWindowsSlot = 2;  // the third string
constexpr size_t kMacSlot = 4;      // the fifth string
constexpr size_t kSlotSize = 31;
// How long the search waits for a boot loader's or a programmer's answer to its no-op.
constexpr uint32_t kDownloadProbeMs = 1000;

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

LineVersions VersionsOf(const LineSession& line) {
  LineVersions versions{line.currentVersion, VersionSlot(line.versionRecord, kWindowsSlot),
                        VersionSlot(line.versionRecord, kMacSlot)};
  if (!versions.windows.empty()) {
    versions.firmware += " (Firmware)";
    versions.windows += " (Windows)";
    versions.mac += " (Mac)";
  } else {
    versions.firmware = versions.windows = versions.mac = "NULL";
  }
  // A stick whose last probe got no answer is not ready, although the strings of its last
  // version table still stand (its text is then "NULL (Firmware)").
  versions.ready = versions.firmware != "NULL" && versions.firmware != "No Phone" &&
                   line.currentVersion != "NULL";
  versions.inDownloadMode = line.stickState == kStickInDownloadMode;
  if (versions.inDownloadMode)
    versions.firmware = versions.windows = versions.mac = "NULL";
  return versions;
}

void ShowLineVersions(const LineHandle& line) {
  line.ShowVersions(VersionsOf(line.session()));
}

bool ProbeDownloadMode(LineSession& line) {
  PhoneLink& link = line.link;
  if (BootLoaderAnswersNop(link, kDownloadProbeMs)) {
    line.stickState = kStickInDownloadMode;
    line.currentVersion = "NULL";
    line.versionRecord = {};
    return true;
  }
  // A programmer still running: its reset starts the stick again, in its boot loader when the
  // flash lacks an image, and the next round of the search finds it there.
  if (ProgrammerAnswersNop(link, kDownloadProbeMs))
    StreamResetAcknowledged(link);
  return false;
}

bool FindLinePorts(const LineHandle& line, PortScanner& scanner) {
  const FoundPorts ports =
      scanner.FindPorts([&line] { return line.report().StickLocationOf(line.index()); });
  line.report().KeepFoundPorts(line.index(), ports.diagPort, ports.dataPort, ports.location);
  return ports.found;
}

// The text for a port that is there but cannot be opened; "" when the last open of the
// calling thread had no such problem.
std::string OpenProblemText(const LineHandle& line) {
  const platform::SerialOpenProblem problem = platform::LastSerialOpenProblem();
  const char* device = problem.device.c_str();
  switch (problem.kind) {
    case platform::SerialOpenProblem::Kind::NoPermission: {
      const char* group = problem.group.empty() ? "dialout" : problem.group.c_str();
      return Format(line.Text(kNoPermissionText, kNoPermissionTextGerman), device, group, group);
    }
    case platform::SerialOpenProblem::Kind::InUse:
      return Format(line.Text(kPortInUseText, kPortInUseTextGerman), device);
    case platform::SerialOpenProblem::Kind::None:
      break;
  }
  return {};
}

namespace {

// With several lines, a row keeps its last result until another stick is in its socket: a stick
// that arrives is read for its identity once, so that the row can tell. A stick swapped faster
// than the search looks is known by its other port.
struct Arrival {
  bool arriving = true;
  int32_t port = 0;  // the diagnostic port the identity was read on
};

void ReadArrivingStick(const LineHandle& line, Arrival& arrival) {
  LineSession& session = line.session();
  if (!line.choices().severalLines || session.stickState == kStickSilent) {
    arrival.arriving = true;
    return;
  }
  if (!arrival.arriving && arrival.port == session.diagPort)
    return;
  arrival = {false, session.diagPort};
  if (session.stickState == kStickAnswers)
    session.identity = ReadStickIdentity(session);
  else
    session.identity = StickIdentity{std::nullopt, "", session.socket};
}

}  // namespace

void PortSearchThread(platform::SuspendableThread& thread, const LineHandle& line) {
  LineSession& session = line.session();
  PortScanner scanner;
  std::string shownProblem;
  Arrival arrival;

  line.SetStatus(line.Text(kSearchingText, kSearchingTextGerman), true);
  ReopenPort(session, LinePort::Diagnostic);
  while (thread.SafePoint()) {
    for (int failed = 1; !FindLinePorts(line, scanner); ++failed) {
      arrival.arriving = true;
      if (!thread.SafePoint())
        return;
      if (failed % kChecksBetweenClears == 0) {
        ClearSlot(session.versionRecord, kWindowsSlot);
        ClearSlot(session.versionRecord, kMacSlot);
        line.ShowPort();
        ShowLineVersions(line);
      }
    }
    if (!thread.SafePoint())
      return;
    ReopenPort(session, LinePort::Diagnostic);
    ReopenPort(session, LinePort::Modem);

    if (!SendSpc(session.link)) {
      if (!thread.SleepMs(300))
        return;
      SendSpc(session.link);
    }
    if (!thread.SleepMs(50))
      return;

    uint32_t pause = 1000;
    // A stick already found in download mode is asked its boot loader's no-op first: probing it
    // with DIAG again would show it as silent meanwhile, and a press of UPDATE then would not
    // see the stick it shows.
    if (session.stickState == kStickInDownloadMode &&
        BootLoaderAnswersNop(session.link, kDownloadProbeMs)) {
      // still in download mode
    } else if (!ProbeStick(session)) {
      ReopenPort(session, LinePort::Diagnostic);
      if (ProbeStick(session)) {
        pause = 2000;
      } else {
        session.stickState = kStickSilent;
      }
    }
    // A port that is found but cannot be opened says why, once, instead of searching silently.
    const std::string problem =
        session.stickState == kStickSilent ? OpenProblemText(line) : std::string();
    if (session.stickState == kStickSilent && problem.empty())
      ProbeDownloadMode(session);
    if (!problem.empty()) {
      if (problem != shownProblem)
        line.SetStatus(problem, true);
      shownProblem = problem;
      line.ShowPort();
      if (!thread.SleepMs(pause))
        return;
      continue;
    }
    shownProblem.clear();
    ReadArrivingStick(line, arrival);
    // The port first: the versions may make the stick ready, and what is ready follows them.
    line.ShowPort();
    ShowLineVersions(line);
    if (!thread.SleepMs(pause))
      return;
  }
}

void StartSearchThread(const LineHandle& line) {
  LineSession& session = line.session();
  if (session.searchThread)
    session.searchThread->Suspend();
  session.searchThread = std::make_unique<platform::SuspendableThread>(
      [line](platform::SuspendableThread& thread) { PortSearchThread(thread, line); });
  session.searchThread->Resume();
}

}  // namespace orbek
