// The action log: when a line operation ends, the line's whole status log is written to
// "<start-up directory>\Logs\ActionLog<line + 1>_<stamp>.txt" with CR LF line ends, in the
// legacy 8-bit text existing readers expect. Nothing reads it back.
#pragma once

#include <string>

namespace orbek {

// Local time, as the stamps need it.
struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

LocalTime LocalTimeNow();

// "2010.7.16 9:5:3": the stamp in front of a status line.
std::string StatusStamp(const LocalTime& time);
// "2010716953": the stamp in the file name.
std::string FileStamp(const LocalTime& time);

// True when the directory exists or was created (one level); false otherwise, silently. A path
// ending in a backslash is tested without it, except a drive root such as "C:\".
bool EnsureDirectory(const std::string& path);

// "%s\Logs" of the start-up directory.
std::string LogDirectory(const std::string& startupDirectory);

// Writes the file for `line` (0..7) with `statusLog` (UTF-8). A directory or file that cannot
// be written leaves no trace and no message.
void WriteActionLog(const std::string& logDirectory, int line, const std::string& statusLog,
                    const LocalTime& time);

}  // namespace orbek
