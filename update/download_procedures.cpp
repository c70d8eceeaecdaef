#include "update/download_procedures.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "app/form_texts.h"
#include "diag/diag_commands.h"
#include "download/dmss.h"
#include "download/streaming.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_format.h"
#include "ports/port_scanner.h"
#include "update/port_search.h"

namespace orbek {
namespace {

using platform::SleepMs;

constexpr int32_t kBaud = 115200;
constexpr uint32_t kDataPortTimeoutMs = 1000;
constexpr int32_t kDataPortAttempts = 2;
constexpr int kSubsystemPolls = 100;
constexpr int kProbeRounds = 60;

// An image file opened for reading, with its length.
class ImageFile {
 public:
  explicit ImageFile(const std::string& path)
      : file_(platform::NativePath(path), std::ios::binary | std::ios::ate) {
    if (file_) {
      length_ = static_cast<uint64_t>(file_.tellg());
      file_.seekg(0);
    }
  }
  bool IsOpen() const { return static_cast<bool>(file_); }
  uint64_t Length() const { return length_; }
  bool ReadAll(std::vector<uint8_t>& bytes) {
    bytes.resize(length_);
    file_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length_));
    return static_cast<uint64_t>(file_.gcount()) == length_;
  }
  // The next block into `block` (zeroed first); the number of bytes read.
  uint32_t ReadBlock(std::vector<uint8_t>& block) {
    std::fill(block.begin(), block.end(), 0);
    file_.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    return static_cast<uint32_t>(file_.gcount());
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

bool Fail(CVarnelView& view, int line, const std::string& text) {
  view.SetLineStatus(line, text, true);
  return false;
}

bool WriteImage(CVarnelView& view, int line, const ImageWrite& spec) {
  LineSession& session = view.Line(line);
  PhoneLink& link = session.link;
  std::vector<uint8_t> header;
  if (spec.headerPath != nullptr) {
    ImageFile headerFile(*spec.headerPath);
    if (!headerFile.IsOpen())
      return Fail(view, line, spec.headerOpenText);
    if (spec.lengthText != nullptr && headerFile.Length() < 1)
      return Fail(view, line, spec.lengthText);
    if (!headerFile.ReadAll(header))
      return Fail(view, line, spec.headerOpenText);
  }
  if (!TryWithRetries(session, spec.openRetries, [&] {
        return StreamOpenMultiImage(link, spec.type, header.empty() ? nullptr : header.data(),
                                    static_cast<uint32_t>(header.size()));
      })) {
    return Fail(view, line, spec.openFailure);
  }

  ImageFile image(spec.imagePath);
  if (!image.IsOpen())
    return Fail(view, line, spec.imageOpenText);
  if (spec.lengthText != nullptr && image.Length() < 1)
    return Fail(view, line, spec.lengthText);

  int progress = 0;
  uint64_t blocksPerStep = 0;
  if (spec.progress != nullptr) {
    progress = spec.progress->start;
    view.SetLineProgress(line, progress);
    blocksPerStep = (image.Length() / kStreamBlockSize) /
                    static_cast<uint64_t>(spec.progress->end - spec.progress->start);
  }
  std::vector<uint8_t> block(kStreamBlockSize);
  uint64_t blocksSent = 0;
  for (uint64_t offset = 0; offset < image.Length(); offset += kStreamBlockSize) {
    const uint32_t length = image.ReadBlock(block);
    if (length == 0)
      return Fail(view, line, spec.imageOpenText);
    if (!TryWithRetries(session, spec.writeRetries, [&] {
          return StreamWrite(link, block.data(), static_cast<uint32_t>(offset), length);
        })) {
      return Fail(view, line, link.reason);
    }
    ++blocksSent;
    if (spec.progress != nullptr && (blocksPerStep == 0 || blocksSent % blocksPerStep == 0)) {
      // The integer step can give a few steps more than the band holds; the bar stays in it.
      progress = std::min(progress + 1, spec.progress->end);
      SleepMs(spec.progress->sleepMs);
      view.SetLineProgress(line, progress);
      if (spec.progress->extraAtFifteens && progress % 15 == 0)
        SleepMs(2000);
      if (session.busy == 0)
        return Fail(view, line, "downloading is stopped by manual!");
    }
  }
  if (!TryWithRetries(session, spec.closeRetries, [&] { return StreamClose(link); }))
    return Fail(view, line, spec.closeFailure);
  return true;
}

}  // namespace

bool ReopenLink(LineSession& line) {
  line.link.port.Close();
  return line.link.port.Open(line.diagPort, kBaud, 8, 1);
}

bool ReopenDataPort(LineSession& line) {
  line.atPort.port.Close();
  if (!line.atPort.port.Open(line.dataPort, kBaud, 8, 1))
    return false;
  line.atPort.SetTimeout(kDataPortTimeoutMs);
  line.atPort.SetAttempts(kDataPortAttempts);
  return true;
}

bool PortsPresent(CVarnelView& view, int line) {
  LineSession& first = view.Line(0);
  PortScanner scanner(first.diagPort, first.dataPort);
  return scanner.FindPorts(line);
}

void WaitForPorts(CVarnelView& view, int line, uint32_t pauseMs) {
  while (!PortsPresent(view, line))
    SleepMs(pauseMs);
}

void SleepForRetry(LineSession& line, const Retry& retry) {
  SleepMs(retry.sleepMs);
  if (retry.reopen == Reopen::Link)
    ReopenLink(line);
  else if (retry.reopen == Reopen::DataPort)
    ReopenDataPort(line);
  SleepMs(retry.sleepAfterMs);
}

bool EnterDownloadMode(CVarnelView& view, int line) {
  LineSession& session = view.Line(line);
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
  while (!PortsPresent(view, line)) {
  }
  ReopenLink(session);
  if (!TryWithRetries(session,
                      {{2000}, {3000}, {5000, Reopen::Link, 0}, {8000}, {0, Reopen::Link, 10000}},
                      [&] { return DloadNop(link); })) {
    return false;
  }
  return TryWithRetries(session, {{5000}, {3000}, {5000}, {0, Reopen::Link, 8000}},
                        [&] { return DloadGetParams(link, session.flashInfo); });
}

bool UploadProgrammer(CVarnelView& view, int line) {
  LineSession& session = view.Line(line);
  ImageFile programmer(session.armprgPath);
  std::vector<uint8_t> bytes;
  if (!programmer.IsOpen() || !programmer.ReadAll(bytes)) {
    session.link.reason = Format("Line%d :\tOpen armprg.bin fail!", line + 1);
    view.form().MessageBox(session.link.reason, kApplicationTitle, box::kOk);
    return false;
  }
  for (size_t offset = 0; offset < bytes.size(); offset += kProgrammerBlockSize) {
    const size_t length = std::min<size_t>(kProgrammerBlockSize, bytes.size() - offset);
    if (!DloadWrite32(session.link, bytes.data() + offset,
                      kProgrammerAddress + static_cast<uint32_t>(offset),
                      static_cast<uint16_t>(length))) {
      return Fail(view, line, session.link.reason);
    }
  }
  return true;
}

bool StartProgrammer(CVarnelView& view, int line) {
  LineSession& session = view.Line(line);
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

bool WritePartitionTable(CVarnelView& view, int line) {
  LineSession& session = view.Line(line);
  ImageFile file(session.partitionPath);
  if (!file.IsOpen())
    return Fail(view, line, kOpenFileFail);
  std::vector<uint8_t> table;
  if (file.Length() < 1 || file.Length() > kStreamBlockSize || !file.ReadAll(table))
    return Fail(view, line, kWrongLength);
  if (TryWithRetries(session, {{2000}, {2000}}, [&] {
        return StreamPartitionTable(session.link, table.data(),
                                    static_cast<uint32_t>(table.size()));
      })) {
    return true;
  }
  return Fail(view, line, session.link.reason);
}

bool WriteBootHeader(CVarnelView& view, int line) {
  const LineSession& session = view.Line(line);
  return WriteImage(view, line,
                    {nullptr,
                     session.qcsblHeaderPath,
                     kImageQcsblHeader,
                     {{2000}, {0, Reopen::Link, 2000}},
                     "进入Secondbootloaderheader模式失败!",
                     {{500}, {0, Reopen::Link, 2000}},
                     {{500}, {0, Reopen::Link, 2000}},
                     kClosePacketError,
                     kOpenFileFail,
                     kOpenFileFail,
                     kWrongLength,
                     nullptr});
}

bool WritePrimaryBootLoader(CVarnelView& view, int line) {
  const LineSession& session = view.Line(line);
  return WriteImage(view, line,
                    {nullptr,
                     session.qcsblPath,
                     kImageQcsbl,
                     {{500}, {0, Reopen::Link, 2000}},
                     "enter Secondbootloader mode fail!",
                     {{500}, {0, Reopen::Link, 2000}},
                     {{500}, {0, Reopen::Link, 2000}},
                     kClosePacketError,
                     kOpenFileFail,
                     kOpenFileFail,
                     kWrongLength,
                     nullptr});
}

bool WriteOemBootLoader(CVarnelView& view, int line) {
  const LineSession& session = view.Line(line);
  return WriteImage(view, line,
                    {&session.oemsblHeaderPath,
                     session.oemsblPath,
                     kImageOemsbl,
                     {{2000}},
                     "enter DownloadOEMbootloader mode fail!",
                     {{500}, {0, Reopen::Link, 2000}},
                     {{500}, {0, Reopen::Link, 2000}},
                     kClosePacketError,
                     kOpenFileFail,
                     kOpenFileFail,
                     kWrongLength,
                     nullptr});
}

bool WriteAmss(CVarnelView& view, int line) {
  const LineSession& session = view.Line(line);
  static const ProgressSteps kAmssProgress{26, 50, 50, true};
  return WriteImage(view, line,
                    {&session.amssHeaderPath,
                     session.amssPath,
                     kImageAmss,
                     {{2000}, {92000}},
                     "进入DownloadOEMbootloader模式失败!",
                     {{2000}, {0, Reopen::DataPort, 2000}, {2000, Reopen::DataPort, 2000}},
                     {{500}, {0, Reopen::DataPort, 2000}},
                     "ClosePackert error",
                     "打开文件失败！",
                     "打开文件失败!",
                     "文件长度不正确",
                     &kAmssProgress});
}

bool WriteProgrammerImage(CVarnelView& view, int line) {
  const LineSession& session = view.Line(line);
  return WriteImage(view, line,
                    {&session.nandprgHeaderPath,
                     session.nandprgPath,
                     kImageProgrammer,
                     {{2000}, {2000}, {2000}},
                     "下载nandprghd失败!",
                     {{2000}, {0, Reopen::DataPort, 2000}, {2000, Reopen::DataPort, 2000}},
                     {},
                     "ClosePacket出错",
                     "打开文件失败！",
                     "打开文件失败！",
                     "文件长度不正确",
                     nullptr});
}

bool WriteEfs(CVarnelView& view, int line) {
  const LineSession& session = view.Line(line);
  static const ProgressSteps kEfsProgress{51, 80, 500, false};
  return WriteImage(view, line,
                    {nullptr,
                     session.efsPath,
                     kImageEfs,
                     {{2000}, {2000}},
                     "Enter Download EFS mode fail!",
                     {{2000, Reopen::DataPort, 2000}, {2000, Reopen::DataPort, 2000}},
                     {{200}, {200}},
                     "ClosePackert error",
                     "Open file fail",
                     "Open file fail",
                     nullptr,
                     &kEfsProgress});
}

bool WaitForProbe(CVarnelView& view, int line) {
  LineSession& session = view.Line(line);
  for (int round = 0; round < kProbeRounds; ++round) {
    SleepMs(1000);
    TryWithRetries(session, {{2000}, {2000}}, [&] { return ReopenDataPort(session); });
    if (ReopenLink(session) && ProbeStick(session))
      return true;
  }
  return false;
}

bool ResetAndWait(CVarnelView& view, int line) {
  StreamReset(view.Line(line).link);
  SleepMs(3000);
  WaitForPorts(view, line, 1000);
  return WaitForProbe(view, line);
}

}  // namespace orbek
