// One line: a stick attached to the computer, with its ports, link, threads, progress, status
// and log. Eight exist; the product drives line 0.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
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

// The probe's verdict on the stick. In download mode it gives no DIAG answer but its boot
// loader acknowledges: an earlier update did not finish, and the stick can be updated only.
enum StickState : int { kStickSilent = 1, kStickAnswers = 2, kStickInDownloadMode = 3 };

// Which stick a line talks to. A stick is known by three things: its ESN (unless the stick
// answers 0 or FFFFFFFF, as UMTS sticks do), its IMEI (NV item 550, when it reads active and not
// blank) and the USB socket it is plugged into.
struct StickIdentity {
  std::optional<uint32_t> esn;  // none when unread, 0 or FFFFFFFF
  std::string imei;             // its digits; "" when unread, inactive or blank
  std::string socket;           // the USB location; "" when unknown

  // Known by ESN or IMEI (a socket alone names a place, not a stick).
  bool Known() const { return esn.has_value() || !imei.empty(); }
  // "ESN 80A1B2C3, IMEI 357123456789012, socket 1-1", naming only what is known.
  std::string Describe() const;
};

struct LineSession {
  int index = 0;
  // 0 and 1 mean no port.
  int32_t diagPort = 0;
  int32_t dataPort = 0;
  // The USB socket (location) of the stick those ports belong to; "" when unknown.
  std::string socket;
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
  // The stick the line last read (by its operation, or by its search once a stick came back),
  // and the NV file its last operation kept, wrote or read ("" for none).
  StickIdentity identity;
  std::string nvFileUsed;
  std::unique_ptr<platform::SuspendableThread> worker;
  std::unique_ptr<platform::SuspendableThread> searchThread;
};

// The choices shared by every line that the workflow reads: the board tag copied at launch and
// the NV handling. The document holds them; a line's handle reaches them.
struct UpdateChoices {
  std::string selectedBoardTag;
  // Which NV items go round the update: 0 none, 1 all but 550 and 4051, 2 all, 3 the default
  // file's.
  int nvMode = 2;
  // The backup file chosen for mode 3.
  std::string defaultNvFile;
  // Where every backup is also kept, per stick (by ESN), with whether it was restored.
  std::string nvBackupsDirectory;
  // Several lines update at once (the factory face): a successful update ends its line, not the
  // program, and leaves the package and the connection manager to the program's end; a box
  // names the line it is about.
  bool severalLines = false;
};

// How an operation ended: 0 and 1 pass, 2 to 5 fail (see EndLineOperation).
enum Outcome : int {
  kOutcomeRestored = 0,
  kOutcomeBackedUp = 1,
  kOutcomeStopped = 2,
  kOutcomeFailed3 = 3,
  kOutcomeFailed = 4,
  kOutcomeFailedLeaveStick = 5
};

// The two ports of a line.
enum class LinePort { Diagnostic, Modem };

// Closes the port and opens it again on the line's COM number at 115200 baud, 8 data bits, 1
// stop bit: the diagnostic port for the link, the modem port for the AT port, which then waits
// 1000 ms for an answer, twice.
bool ReopenPort(LineSession& line, LinePort port);

inline constexpr uint32_t kAtPortTimeoutMs = 1000;
inline constexpr int32_t kAtPortAttempts = 2;

}  // namespace orbek
