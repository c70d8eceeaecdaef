// The production log of the factory face: one line in "factory-log.csv" (in the user's data
// folder) for every operation a line ran, whatever its end. Each record is appended whole in one
// write, so that the file can be read while the program runs; it is never rewritten.
#pragma once

#include <string>

#include "log/action_log.h"

namespace orbek {

struct FactoryRecord {
  LocalTime start;
  LocalTime end;
  int line = 0;  // 1 to 8
  std::string socket;
  std::string esn;   // "" when the stick gave none
  std::string imei;  // "" when the stick gave none
  std::string firmwareBefore;
  std::string firmwareAfter;
  std::string operation;  // "update", "nv backup", "nv restore"
  std::string result;     // "pass", "fail", "stopped"
  std::string failure;    // the failure's text; "" for a pass
  std::string backupFile;
};

inline constexpr const char* kFactoryLogName = "factory-log.csv";

// The first line of a new log: the names of the fields.
std::string FactoryLogHeader();
// One record as a CSV line ending in "\n": a field with a comma, a quote or a line end is quoted
// (its quotes doubled), and a line end inside a field becomes a space.
std::string FactoryLogLine(const FactoryRecord& record);

// Appends the record to the log at `path`, the header first when the file is new or empty.
// False when it could not be written.
bool AppendFactoryRecord(const std::string& path, const FactoryRecord& record);

}  // namespace orbek
