// One line: a stick attached to the computer, with its ports, link, threads, progress, status
// and log. Eight exist; the product drives line 0.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "at/at_port.h"
#include "diag/maker_commands.h"
#include "download/dmss.h"
#include "link/phone_link.h"
#include "platform/suspendable_thread.h"

namespace orbek {

inline constexpr int kLineCount = 8;

enum LineState : int { kLineReady = 0, kLineRunning = 1, kLinePass = 2, kLineFail = 3 };

// What a line's worker does.
enum LineOperation : int {
  kOperationUpdate = 1,
  kOperationNone = 2,
  kOperationNvBackup = 3,
  kOperationNvRestore = 4
};

// The probe's verdict on the stick.
enum StickState : int { kStickSilent = 1, kStickAnswers = 2 };

struct LineSession {
  int index = 0;
  // 0 and 1 mean no port.
  int32_t diagPort = 0;
  int32_t dataPort = 0;
  PhoneLink link;
  AtPort atPort;
  int operation = kOperationUpdate;
  // 1 while an operation runs; cleared from outside to ask a running update to stop.
  std::atomic<int> busy{0};
  int stickState = 0;
  VersionRecord versionRecord{};
  // The boot loader's flash parameters, read on the way into download mode.
  FlashInfo flashInfo{};
  std::string currentVersion;
  std::string nvDirectory;
  std::string nvFilePath;
  // Where the extracted package lies, and its files the line opens by path.
  std::string imageDirectory;
  std::string partitionPath;
  std::string qcsblHeaderPath;
  std::string qcsblPath;
  std::string oemsblHeaderPath;
  std::string oemsblPath;
  std::string amssHeaderPath;
  std::string amssPath;
  std::string efsPath;
  std::string armprgPath;
  std::string nandprgHeaderPath;
  std::string nandprgPath;
  // Every status line shown since the last reset, each ended by "\n".
  std::string statusLog;
  int state = kLineReady;
  int progress = 0;
  std::unique_ptr<platform::SuspendableThread> worker;
  std::unique_ptr<platform::SuspendableThread> searchThread;
};

// The document: the lines and the choices shared by all of them.
class CVarnelDoc {
 public:
  CVarnelDoc();
  std::array<LineSession, kLineCount> lines;
  std::string selectedBoardTag;
  // Which NV items go round the update: 0 none, 1 all but 550 and 4051, 2 all, 3 the default
  // file's.
  int nvMode = 2;
  // The backup file chosen for mode 3.
  std::string defaultNvFile;
  // Every line's NV directory becomes `directory`, its backup file "<directory>\ChannelN.nvm".
  void SetNvDirectory(const std::string& directory);
  // Whether the re-plug thread calls the library; 1 from the start, nothing clears it.
  std::atomic<int> replugEnabled{1};
};

}  // namespace orbek
