#include "log/factory_log.h"

#include <mutex>

#include "platform/files.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

std::string TimeField(const LocalTime& time) {
  return Format("%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour,
                time.minute, time.second);
}

std::string CsvField(std::string text) {
  bool quote = false;
  for (char& c : text) {
    if (c == '\r' || c == '\n')
      c = ' ';
    quote = quote || c == ',' || c == '"';
  }
  if (!quote)
    return text;
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c;
    if (c == '"')
      quoted += '"';
  }
  return quoted + "\"";
}

}  // namespace

std::string FactoryLogHeader() {
  return "start,end,line,socket,esn,imei,firmware before,firmware after,operation,result,"
         "failure,backup file\n";
}

std::string FactoryLogLine(const FactoryRecord& record) {
  const std::string fields[] = {TimeField(record.start),
                                TimeField(record.end),
                                Format("%d", record.line),
                                record.socket,
                                record.esn,
                                record.imei,
                                record.firmwareBefore,
                                record.firmwareAfter,
                                record.operation,
                                record.result,
                                record.failure,
                                record.backupFile};
  std::string line;
  for (const std::string& field : fields)
    line += CsvField(field) + ",";
  line.back() = '\n';
  return line;
}

bool AppendFactoryRecord(const std::string& path, const FactoryRecord& record) {
  // Lines end at once on their own threads: one of them decides that the header is due.
  static std::mutex appending;
  const std::lock_guard<std::mutex> hold(appending);
  const std::optional<uint64_t> size = platform::RegularFileSize(path);
  const bool isNew = !size || *size == 0;
  return platform::AppendToFile(path, (isNew ? FactoryLogHeader() : "") + FactoryLogLine(record));
}

}  // namespace orbek
