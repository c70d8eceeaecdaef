// The production log: each record one CSV line that a spreadsheet reads back field by field, and
// whole however many lines end at once.
#include "log/factory_log.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"

namespace orbek {
namespace {

using testing::ReadFileText;

FactoryRecord RecordOfLine(int line, std::string failure) {
  FactoryRecord record;
  record.start = {2026, 12, 10, 7, 5, 9};
  record.end = {2026, 12, 10, 7, 11, 0};
  record.line = line;
  record.socket = "7&1a2b3c4d&0";
  record.esn = "8A3F1DC7";
  record.imei = "357123456789012";
  record.firmwareBefore = "V1.0";
  record.firmwareAfter = "V2.0";
  record.operation = "update";
  record.result = failure.empty() ? "pass" : "fail";
  record.failure = std::move(failure);
  record.backupFile = "C:\\nv\\Channel1.nvm";
  return record;
}

TEST(FactoryLog, EachRecordIsOneLineWithItsFieldsQuotedWhereNeeded) {
  const struct {
    const char* failure;
    const char* field;  // as the line holds it
  } cases[] = {
      {"", ""},
      {"reset modem fail!", "reset modem fail!"},
      {"Line2: fail, unplug it", "\"Line2: fail, unplug it\""},
      {"the \"OK\" button", "\"the \"\"OK\"\" button\""},
      {"two\r\nlines", "two  lines"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FactoryLogLine(RecordOfLine(2, c.failure)),
              std::string("2026-12-10 07:05:09,2026-12-10 07:11:00,2,7&1a2b3c4d&0,8A3F1DC7,"
                          "357123456789012,V1.0,V2.0,update,") +
                  (*c.failure ? "fail," : "pass,") + c.field + ",C:\\nv\\Channel1.nvm\n")
        << c.failure;
  }
}

TEST(FactoryLog, LinesEndingAtOnceLeaveOneHeaderAndEveryRecordWhole) {
  testing::RegistryRoot root;
  const std::string path = root.Path() + "/factory-log.csv";
  constexpr int kLines = 8;
  constexpr int kRecordsEach = 40;
  std::vector<std::thread> lines;
  for (int line = 1; line <= kLines; ++line) {
    lines.emplace_back([&, line] {
      for (int i = 0; i < kRecordsEach; ++i)
        EXPECT_TRUE(AppendFactoryRecord(path, RecordOfLine(line, "a, long failure text")));
    });
  }
  for (std::thread& line : lines)
    line.join();

  std::istringstream log(ReadFileText(path));
  std::string text;
  std::getline(log, text);
  EXPECT_EQ(text + "\n", FactoryLogHeader());
  std::multiset<std::string> records;
  while (std::getline(log, text))
    records.insert(text + "\n");
  EXPECT_EQ(records.size(), static_cast<size_t>(kLines * kRecordsEach));
  for (int line = 1; line <= kLines; ++line)
    EXPECT_EQ(records.count(FactoryLogLine(RecordOfLine(line, "a, long failure text"))),
              static_cast<size_t>(kRecordsEach));
}

}  // namespace
}  // namespace orbek
