// One line's modem port, for AT commands: a command goes out with CR, the answer line is the
// text between the first two CR LF pairs.
#pragma once

#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace orbek {

class AtPort {
 public:
  static constexpr uint32_t kMaxTimeoutMs = 5000;
  static constexpr uint32_t kMaxAnswerBytes = 256;

  // Always true; values above 5000 ms become 5000.
  bool SetTimeout(uint32_t ms);
  // True and stored for 1 to 9; false and unchanged otherwise.
  bool SetAttempts(int32_t count);

  // Sends `text` + CR up to `attempts` times until an answer arrives; true when its answer line
  // came back and is not "error" (in any case). `line` is left unchanged when no line was found.
  bool Command(const std::string& text, std::string& line);
  // "AT+GMR": the firmware version (unchanged on failure).
  bool ReadGmr(std::string& version);
  bool SetDiagPortMode(int mode);  // "AT+YDIAG=%d"
  // "AT+YDIAG?": the digit after the answer's 8-character name prefix, or 0.
  int QueryDiagPortMode();
  // The command's answer line is discarded.
  bool SendText(const std::string& text);

  SerialPort port;
  std::string command;  // the last command sent, with its CR
  std::string answer;   // the raw answer to it, up to the first zero byte
  uint32_t timeoutMs = kMaxTimeoutMs;
  int32_t attempts = 3;

 private:
  // Polls the input count every 100 ms until it stops growing or the time-out passes; returns
  // the last count.
  uint32_t AwaitAnswer();
};

// The text between the first CR LF pair of `answer` and the next one; false when either pair is
// missing.
bool AnswerLine(const std::string& answer, std::string& line);

}  // namespace orbek
