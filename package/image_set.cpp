#include "package/image_set.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "app/form_texts.h"
#include "diag/maker_commands.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

constexpr uint8_t kMarker[4] = {0x2C, 0x1A, 0xBE, 0x6E};
constexpr size_t kChunk = 64 * 1024;  // a multiple of 4: words never straddle two reads
constexpr std::streamoff kMinimumImageLength = 2;

// The length of a file, or -1 when it does not open.
std::streamoff FileLength(const std::string& path) {
  std::ifstream file(platform::NativePath(path), std::ios::binary | std::ios::ate);
  return file ? static_cast<std::streamoff>(file.tellg()) : -1;
}

}  // namespace

RecordLookup FindVersionRecordInFile(const std::string& nativePath, FirmwareRecord& record) {
  std::ifstream file(nativePath, std::ios::binary);
  if (!file)
    return RecordLookup::OpenFailed;
  std::vector<char> chunk(kChunk);
  std::streamoff base = 0;
  for (;;) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const size_t got = static_cast<size_t>(file.gcount());
    for (size_t offset = 0; offset + 4 <= got; offset += 4) {
      if (std::equal(kMarker, kMarker + 4,
                     reinterpret_cast<const uint8_t*>(chunk.data() + offset))) {
        file.clear();
        file.seekg(base + static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(record.data()), kVersionRecordLength);
        return RecordLookup::Found;
      }
    }
    if (got < chunk.size())
      return RecordLookup::NotFound;
    base += static_cast<std::streamoff>(got);
  }
}

bool FindVersionRecord(CVarnelView& view, int line, FirmwareRecord& record) {
  switch (FindVersionRecordInFile(platform::NativePath(view.Line(line).amssPath), record)) {
    case RecordLookup::Found:
      return true;
    case RecordLookup::NotFound:
      return false;
    case RecordLookup::OpenFailed:
      break;
  }
  view.SetLineStatus(line, "open file fail", true);
  return false;
}

bool SendVersionRecord(CVarnelView& view, int line, std::initializer_list<uint32_t> retryWaitsMs) {
  FirmwareRecord record{};
  FindVersionRecord(view, line, record);
  PhoneLink& link = view.Line(line).link;
  if (DownloadCheck(link, record, kMakerSecurity))
    return true;
  for (uint32_t waitMs : retryWaitsMs) {
    platform::SleepMs(waitMs);
    if (DownloadCheck(link, record, kMakerSecurity))
      return true;
  }
  return false;
}

bool CheckImageSet(CVarnelView& view, int line, bool requireStick) {
  const LineSession& session = view.Line(line);
  const std::string& directory = session.imageDirectory;
  if (directory.empty())
    return false;
  if (requireStick && session.stickState != kStickAnswers)
    return false;

  const std::streamoff partition = FileLength(Format("%s\\partition.mbn", directory.c_str()));
  if (partition < kMinimumImageLength) {
    const std::string english = partition < 0
                                    ? Format("Line%d: can't open partition.mbn!", line + 1)
                                    : Format("Line%d: Open wrong partition.mbn! ", line + 1);
    view.form().MessageBox(view.useGerman() ? "Download fehlgeschlagen" : english,
                           kApplicationTitle, box::kOk);
    return false;
  }
  for (const char* name : {"qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsblhd.mbn", "oemsbl.mbn",
                           "amsshd.mbn", "amss.mbn"}) {
    if (FileLength(Format("%s\\%s", directory.c_str(), name)) < kMinimumImageLength)
      return false;
  }
  return true;
}

}  // namespace orbek
