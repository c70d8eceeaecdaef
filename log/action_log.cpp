#include "log/action_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/files.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"

namespace orbek {

LocalTime LocalTimeNow() {
  static std::mutex mutex;  // std::localtime shares one buffer
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::lock_guard<std::mutex> hold(mutex);
  const std::tm* local = std::localtime(&now);
  if (local == nullptr)
    return {};
  return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
          local->tm_hour,        local->tm_min,     local->tm_sec};
}

std::string StatusStamp(const LocalTime& t) {
  return Format("%d.%d.%d %d:%d:%d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::string FileStamp(const LocalTime& t) {
  return Format("%d%d%d%d%d%d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

bool EnsureDirectory(const std::string& path) {
  std::string tested = path;
  if (!tested.empty() && tested.back() == '\\') {
    if (tested.size() == 3 && tested[1] == ':')
      return true;  // a drive root
    tested.pop_back();
  }
  if (platform::PathExists(tested))
    return true;
  return platform::CreateOneDirectory(path);
}

std::string LogDirectory(const std::string& startupDirectory) {
  return Format("%s\\Logs", startupDirectory.c_str());
}

void WriteActionLog(const std::string& logDirectory, int line, const std::string& statusLog,
                    const LocalTime& time) {
  EnsureDirectory(logDirectory);
  const std::string path =
      Format("%s\\ActionLog%d_%s.txt", logDirectory.c_str(), line + 1, FileStamp(time).c_str());
  std::FILE* file = std::fopen(platform::NativePath(path).c_str(), "wb");
  if (file == nullptr)
    return;
  std::string text;
  for (char c : platform::Utf8ToLegacy(statusLog)) {
    if (c == '\n')
      text += '\r';
    text += c;
  }
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

}  // namespace orbek
