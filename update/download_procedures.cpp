#include "update/download_procedures.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "diag/diag_commands.h"
#include "download/dmss.h"
#include "download/streaming.h"
#include "line/form_texts.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_format.h"
#include "ports/port_scanner.h"
#include "update/port_search.h"

namespace orbek {
namespace {

using platform::SleepMs;

constexpr int kSubsystemPolls = 100;
constexpr int kProbeRounds = 60;

// An image file opened for reading, with its length. Only a regular file opens: a directory or
// a device in its place would report a length that no read can give.
class ImageFile {
 public:
  explicit ImageFile(const std::string& path) {
    if (const std::optional<uint64_t> size = platform::RegularFileSize(path)) {
      file_.open(platform::NativePath(path), std::ios::binary);
      length_ = *size;
    }
  }
  bool IsOpen() const { return file_.is_open() && static_cast<bool>(file_); }
  uint64_t Length() const { return length_; }
  bool ReadAll(std::vector<uint8_t>& bytes) {
    bytes.resize(length_);
    file_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length_));
    return static_cast<uint64_t>(file_.gcount()) == length_;
  }

 private:
  std::ifstream file_;
  uint64_t length_ = 0;
};

struct ProgressSteps {
  int start = 0;
  int end = 0;
  uint32_t sleepMs = 0;
  bool extraAtFifteens = false;
};

// One multi-image write: its files, type, retries and texts.
struct ImageWrite {
  const std::string* headerPath;  // nullptr: no header
  const std::string& imagePath;
  uint8_t type;
  std::initializer_list<Retry> openRetries;
  const char* openFailure;
  std::initializer_list<Retry> writeRetries;
  std::initializer_list<Retry> closeRetries;
  const char* closeFailure;
  const char* headerOpenText;
  const char* imageOpenText;
  const char* lengthText;  // nullptr: no length check
  const ProgressSteps* progress;
};

constexpr const char* kOpenFileFail = "open file fail!";
constexpr const char* kWrongLength = "The length of file is not correct";
constexpr const char* kClosePacketError = "ClosePacket error";

bool Fail(const LineHandle& line, const std::string& text) {
  line.SetStatus(text, true);
  return false;
}

bool WriteImage(const LineHandle& line, const ImageWrite& spec) {
  LineSession& session = line.session();
  PhoneLink& link = session.link;
  std::vector<uint8_t> header;
  if (spec.headerPath != nullptr) {
    ImageFile headerFile(*spec.headerPath);
    if (!headerFile.IsOpen())
      return Fail(line, spec.headerOpenText);
    if (spec.lengthText != nullptr && headerFile.Length() < 1)
      return Fail(line, spec.lengthText);
    if (!headerFile.ReadAll(header))
      return Fail(line, spec.headerOpenText);
  }
  // The whole file is read before the stick opens the image: an image opened on the stick and
  // then closed without all its bytes (by this pass or the next one's close) would be written
  // empty or short, and an empty file-system image wipes the stick's NV.
  ImageFile image(spec.imagePath);
  if (!image.IsOpen())
    return Fail(line, spec.imageOpenText);
  if (image.Length() < 1)
    return Fail(line, spec.lengthText != nullptr ? spec.lengthText : spec.imageOpenText);
  std::vector<uint8_t> bytes;
  if (!image.ReadAll(bytes))
    return Fail(line, spec.imageOpenText);
  if (!TryWithRetries(session, spec.openRetries, [&] {
        return StreamOpenMultiImage(link, spec.type, header.empty() ? nullptr : header.data(),
                                    static_cast<uint32_t>(header.size()));
      })) {
    return Fail(line, spec.openFailure);
  }

  int progress = 0;
  uint64_t blocksPerStep = 0;
  if (spec.progress != nullptr) {
    progress = spec.progress->start;
    line.SetProgress(progress);
    blocksPerStep = (bytes.size() / kStreamBlockSize) /
                    static_cast<uint64_t>(spec.progress->end - spec.progress->start);
  }
  uint64_t blocksSent = 0;
  for (uint64_t offset = 0; offset < bytes.size(); offset += kStreamBlockSize) {
    const uint32_t length =
        static_cast<uint32_t>(std::min<uint64_t>(kStreamBlockSize, bytes.size() - offset));
    if (!TryWithRetries(session, spec.writeRetries, [&] {
          return StreamWrite(link, bytes.data() + offset, static_cast<uint32_t>(offset), length);
        })) {
      return Fail(line, link.reason);
    }
    ++blocksSent;
    if (spec.progress != nullptr && (blocksPerStep == 0 || blocksSent % blocksPerStep == 0)) {
      // The integer step can give a few steps more than the band holds; the bar stays in it.
      progress = std::min(progress + 1, spec.progress->end);
      SleepMs(spec.progress->sleepMs);
      line.SetProgress(progress);
      if (spec.progress->extraAtFifteens && progress % 15 == 0)
        SleepMs(2000);
      if (session.busy == 0)
        return Fail(line, "downloading is stopped by manual!");
    }
  }
  if (!TryWithRetries(session, spec.closeRetries, [&] { return StreamClose(link); }))
    return Fail(line, spec.closeFailure);
  return true;
}

}  // namespace

bool PortsPresent(const LineHandle& line) {
  PortScanner scanner;
  return FindLinePorts(line, scanner);
}

void WaitForPorts(const LineHandle& line, uint32_t pauseMs) {
  while (!PortsPresent(line))
    SleepMs(pauseMs);
}

void SleepForRetry(LineSession& line, const Retry& retry) {
  SleepMs(retry.sleepMs);
  if (retry.reopen == Reopen::Link)
    ReopenPort(line, LinePort::Diagnostic);
  else if (retry.reopen == Reopen::DataPort)
    ReopenPort(line, LinePort::Modem);
  SleepMs(retry.sleepAfterMs);
}

bool EnterDownloadMode(const LineHandle& line) {
  LineSession& session = line.session();
  PhoneLink& link = session.link;
  if (!TryWithRetries(session, {{300}, {3000}, {5000}}, [&] { return Command5C(link); }))
    return false;
  SleepMs(500);
  TryWithRetries(session, {{300}}, [&] { return SendSpc(link); });
  SleepMs(50);
  if (!TryWithRetries(session, {{300}, {5000}, {0, Reopen::Link, 8000}},
                      [&] { return GoOffline(link); })) {
    return false;
  }
  SleepMs(50);
  bool ready = false;
  for (int poll = 0; poll < kSubsystemPolls && !ready; ++poll) {
    if (poll > 0)
      SleepMs(500);
    ready = PollSubsystemStatus(link);
  }
  if (!ready)
    return false;
  SleepMs(50);
  TryWithRetries(session, {{3000}, {5000}, {0, Reopen::Link, 8000}},
                 [&] { return SwitchToDownloader(link); });
  SleepMs(5000);
  while (!PortsPresent(line)) {
  }
  ReopenPort(session, LinePort::Diagnostic);
  return GreetBootLoader(line);
}

bool GreetBootLoader(const LineHandle& line) {
  LineSession& session = line.session();
  PhoneLink& link = session.link;
  if (!TryWithRetries(session,
                      {{2000}, {3000}, {5000, Reopen::Link, 0}, {8000}, {0, Reopen::Link, 10000}},
                      [&] { return DloadNop(link); })) {
    return false;
  }
  return TryWithRetries(session, {{5000}, {3000}, {5000}, {0, Reopen::Link, 8000}},
                        [&] { return DloadGetParams(link, session.flashInfo); });
}

bool UploadProgrammer(const LineHandle& line) {
  LineSession& session = line.session();
  ImageFile programmer(session.armprgPath);
  std::vector<uint8_t> bytes;
  if (!programmer.IsOpen() || !programmer.ReadAll(bytes)) {
    session.link.reason = Format("Line%d :\tOpen armprg.bin fail!", line.index() + 1);
    line.MessageBox(session.link.reason, kApplicationTitle, box::kOk);
    return false;
  }
  for (size_t offset = 0; offset < bytes.size(); offset += kProgrammerBlockSize) {
    const size_t length = std::min<size_t>(kProgrammerBlockSize, bytes.size() - offset);
    if (!DloadWrite32(session.link, bytes.data() + offset,
                      kProgrammerAddress + static_cast<uint32_t>(offset),
                      static_cast<uint16_t>(length))) {
      return Fail(line, session.link.reason);
    }
  }
  return true;
}

bool StartProgrammer(const LineHandle& line) {
  LineSession& session = line.session();
  PhoneLink& link = session.link;
  TryWithRetries(session, {{500}, {0, Reopen::Link, 2000}, {0, Reopen::Link, 2000}},
                 [&] { return DloadGo(link, 0x0080, 0); });
  SleepMs(2000);
  if (!TryWithRetries(session, {{2000}, {0, Reopen::Link, 2000}},
                      [&] { return StreamHello(link); })) {
    return false;
  }
  return TryWithRetries(session, {{1000, Reopen::Link, 0}, {1000, Reopen::Link, 0}},
                        [&] { return StreamNop(link); });
}

bool WritePartitionTable(const LineHandle& line) {
  LineSession& session = line.session();
  ImageFile file(session.partitionPath);
  if (!file.IsOpen())
    return Fail(line, kOpenFileFail);
  std::vector<uint8_t> table;
  if (file.Length() < 1 || file.Length() > kStreamBlockSize || !file.ReadAll(table))
    return Fail(line, kWrongLength);
  if (TryWithRetries(session, {{2000}, {2000}}, [&] {
        return StreamPartitionTable(session.link, table.data(),
                                    static_cast<uint32_t>(table.size()));
      })) {
    return true;
  }
  return Fail(line, session.link.reason);
}

bool WriteBootHeader(const LineHandle& line) {
  const LineSession& session = line.session();
  return WriteImage(line, {.headerPath = nullptr,
                           .imagePath = session.qcsblHeaderPath,
                           .type = kImageQcsblHeader,
                           .openRetries = {{2000}, {0, Reopen::Link, 2000}},
                           .openFailure = "进入Secondbootloaderheader模式失败!",
                           .writeRetries = {{500}, {0, Reopen::Link, 2000}},
                           .closeRetries = {{500}, {0, Reopen::Link, 2000}},
                           .closeFailure = kClosePacketError,
                           .headerOpenText = kOpenFileFail,
                           .imageOpenText = kOpenFileFail,
                           .lengthText = kWrongLength,
                           .progress = nullptr});
}

bool WritePrimaryBootLoader(const LineHandle& line) {
  const LineSession& session = line.session();
  return WriteImage(line, {.headerPath = nullptr,
                           .imagePath = session.qcsblPath,
                           .type = kImageQcsbl,
                           .openRetries = {{500}, {0, Reopen::Link, 2000}},
                           .openFailure = "enter Secondbootloader mode fail!",
                           .writeRetries = {{500}, {0, Reopen::Link, 2000}},
                           .closeRetries = {{500}, {0, Reopen::Link, 2000}},
                           .closeFailure = kClosePacketError,
                           .headerOpenText = kOpenFileFail,
                           .imageOpenText = kOpenFileFail,
                           .lengthText = kWrongLength,
                           .progress = nullptr});
}

bool WriteOemBootLoader(const LineHandle& line) {
  const LineSession& session = line.session();
  return WriteImage(line, {.headerPath = &session.oemsblHeaderPath,
                           .imagePath = session.oemsblPath,
                           .type = kImageOemsbl,
                           .openRetries = {{2000}},
                           .openFailure = "enter DownloadOEMbootloader mode fail!",
                           .writeRetries = {{500}, {0, Reopen::Link, 2000}},
                           .closeRetries = {{500}, {0, Reopen::Link, 2000}},
                           .closeFailure = kClosePacketError,
                           .headerOpenText = kOpenFileFail,
                           .imageOpenText = kOpenFileFail,
                           .lengthText = kWrongLength,
                           .progress = nullptr});
}

bool WriteAmss(const LineHandle& line) {
  const LineSession& session = line.session();
  static const ProgressSteps kAmssProgress{26, 50, 50, true};
  return WriteImage(
      line, {.headerPath = &session.amssHeaderPath,
             .imagePath = session.amssPath,
             .type = kImageAmss,
             .openRetries = {{2000}, {92000}},
             .openFailure = "进入DownloadOEMbootloader模式失败!",
             .writeRetries = {{2000}, {0, Reopen::DataPort, 2000}, {2000, Reopen::DataPort, 2000}},
             .closeRetries = {{500}, {0, Reopen::DataPort, 2000}},
             .closeFailure = "ClosePackert error",
             .headerOpenText = "打开文件失败！",
             .imageOpenText = "打开文件失败!",
             .lengthText = "文件长度不正确",
             .progress = &kAmssProgress});
}

bool WriteProgrammerImage(const LineHandle& line) {
  const LineSession& session = line.session();
  return WriteImage(
      line, {.headerPath = &session.nandprgHeaderPath,
             .imagePath = session.nandprgPath,
             .type = kImageProgrammer,
             .openRetries = {{2000}, {2000}, {2000}},
             .openFailure = "下载nandprghd失败!",
             .writeRetries = {{2000}, {0, Reopen::DataPort, 2000}, {2000, Reopen::DataPort, 2000}},
             .closeRetries = {},
             .closeFailure = "ClosePacket出错",
             .headerOpenText = "打开文件失败！",
             .imageOpenText = "打开文件失败！",
             .lengthText = "文件长度不正确",
             .progress = nullptr});
}

bool WriteEfs(const LineHandle& line) {
  const LineSession& session = line.session();
  static const ProgressSteps kEfsProgress{51, 80, 500, false};
  return WriteImage(
      line, {.headerPath = nullptr,
             .imagePath = session.efsPath,
             .type = kImageEfs,
             .openRetries = {{2000}, {2000}},
             .openFailure = "Enter Download EFS mode fail!",
             .writeRetries = {{2000, Reopen::DataPort, 2000}, {2000, Reopen::DataPort, 2000}},
             .closeRetries = {{200}, {200}},
             .closeFailure = "ClosePackert error",
             .headerOpenText = "Open file fail",
             .imageOpenText = "Open file fail",
             .lengthText = nullptr,
             .progress = &kEfsProgress});
}

bool WaitForProbe(const LineHandle& line) {
  LineSession& session = line.session();
  for (int round = 0; round < kProbeRounds; ++round) {
    SleepMs(1000);
    TryWithRetries(session, {{2000}, {2000}}, [&] { return ReopenPort(session, LinePort::Modem); });
    if (ReopenPort(session, LinePort::Diagnostic) && ProbeStick(session))
      return true;
  }
  return false;
}

bool ResetAndWait(const LineHandle& line) {
  StreamReset(line.session().link);
  SleepMs(3000);
  WaitForPorts(line, 1000);
  return WaitForProbe(line);
}

}  // namespace orbek
