#include "at/at_port.h"

#include <algorithm>
#include <cctype>

#include "platform/clock.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

constexpr uint32_t kPollStepMs = 100;
constexpr size_t kAnswerNamePrefix = 8;  // "+YDIAG: "

bool EqualsNoCase(const std::string& text, const char* word) {
  size_t i = 0;
  for (; i < text.size() && word[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != word[i])
      return false;
  }
  return i == text.size() && word[i] == '\0';
}

}  // namespace

bool AnswerLine(const std::string& answer, std::string& line) {
  size_t first = answer.find("\r\n");
  if (first == std::string::npos)
    return false;
  size_t start = first + 2;
  size_t end = answer.find("\r\n", start);
  if (end == std::string::npos)
    return false;
  line = answer.substr(start, end - start);
  return true;
}

bool AtPort::SetTimeout(uint32_t ms) {
  timeoutMs = std::min(ms, kMaxTimeoutMs);
  return true;
}

bool AtPort::SetAttempts(int32_t count) {
  if (count < 1 || count > 9)
    return false;
  attempts = count;
  return true;
}

uint32_t AtPort::AwaitAnswer() {
  const uint64_t start = platform::TickCountMs();
  for (;;) {
    platform::SleepMs(kPollStepMs);
    uint32_t first = port.BytesQueued();
    platform::SleepMs(kPollStepMs);
    uint32_t second = port.BytesQueued();
    if ((first >= 1 && second == first) || platform::TickCountMs() - start > timeoutMs) {
      return first;
    }
  }
}

bool AtPort::Command(const std::string& text, std::string& line) {
  command = text + "\r";
  const auto* bytes = reinterpret_cast<const uint8_t*>(command.data());
  const auto length = static_cast<uint32_t>(command.size());
  bool answered = false;
  for (int32_t attempt = 0; attempt < attempts && !answered; ++attempt) {
    if (port.Write(bytes, length) < length)
      continue;
    answered = AwaitAnswer() >= 1;
  }
  if (!answered)
    return false;

  char received[kMaxAnswerBytes];
  uint32_t count = port.Read(reinterpret_cast<uint8_t*>(received), kMaxAnswerBytes);
  answer.assign(received, std::find(received, received + count, '\0'));
  std::string found;
  if (!AnswerLine(answer, found))
    return false;
  line = found;
  return !EqualsNoCase(line, "error");
}

bool AtPort::ReadGmr(std::string& version) {
  std::string line;
  if (!Command("AT+GMR", line))
    return false;  // an error line is no version
  version = line;
  return true;
}

bool AtPort::SetDiagPortMode(int mode) {
  std::string line;
  return Command(Format("AT+YDIAG=%d", mode), line);
}

int AtPort::QueryDiagPortMode() {
  std::string line;
  if (!Command("AT+YDIAG?", line) || line.size() <= kAnswerNamePrefix)
    return 0;
  char digit = line[kAnswerNamePrefix];
  return std::isdigit(static_cast<unsigned char>(digit)) ? digit - '0' : 0;
}

bool AtPort::SendText(const std::string& text) {
  std::string line;
  return Command(text, line);
}

}  // namespace orbek
