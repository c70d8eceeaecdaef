#include "package/image_set.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "diag/maker_commands.h"
#include "line/form_texts.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

constexpr uint8_t kMarker[4] = {0x2C, 0x1A, 0xBE, 0x6E};
constexpr size_t kChunk = 64 * 1024;  // a multiple of 4: words never straddle two reads
constexpr std::streamoff kMinimumImageLength = 2;

// The length of a file, or -1 when it is no regular file (missing, a directory, a device).
std::streamoff FileLength(const std::string& path) {
  const std::optional<uint64_t> size = platform::RegularFileSize(path);
  return size ? static_cast<std::streamoff>(*size) : -1;
}

bool Readable(const std::string& path) {
  return static_cast<bool>(std::ifstream(platform::NativePath(path), std::ios::binary));
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

bool FindVersionRecord(const LineHandle& line, FirmwareRecord& record) {
  switch (FindVersionRecordInFile(platform::NativePath(line.session().amssPath), record)) {
    case RecordLookup::Found:
      return true;
    case RecordLookup::NotFound:
      return false;
    case RecordLookup::OpenFailed:
      break;
  }
  line.SetStatus("open file fail", true);
  return false;
}

bool SendVersionRecord(const LineHandle& line, std::initializer_list<uint32_t> retryWaitsMs) {
  FirmwareRecord record{};
  FindVersionRecord(line, record);
  PhoneLink& link = line.session().link;
  if (DownloadCheck(link, record, kMakerSecurity))
    return true;
  for (uint32_t waitMs : retryWaitsMs) {
    platform::SleepMs(waitMs);
    if (DownloadCheck(link, record, kMakerSecurity))
      return true;
  }
  return false;
}

bool CheckImageSet(const LineHandle& line, bool requireStick) {
  const LineSession& session = line.session();
  const std::string& directory = session.imageDirectory;
  if (directory.empty())
    return false;
  // A stick in download mode gives no answer but its boot loader's: UPDATE rescues it.
  if (requireStick && session.stickState != kStickAnswers &&
      session.stickState != kStickInDownloadMode)
    return false;

  const std::streamoff partition = FileLength(Format("%s\\partition.mbn", directory.c_str()));
  if (partition < kMinimumImageLength) {
    const std::string english =
        partition < 0 ? Format("Line%d: can't open partition.mbn!", line.index() + 1)
                      : Format("Line%d: Open wrong partition.mbn! ", line.index() + 1);
    line.MessageBox(line.UseGerman() ? "Download fehlgeschlagen" : english, kApplicationTitle,
                    box::kOk);
    return false;
  }
  // Every other file the update opens once the stick has left normal operation: one that cannot
  // be read then would leave the stick in download mode.
  for (const char* name : kCheckedImages) {
    const std::string path = Format("%s\\%s", directory.c_str(), name);
    if (FileLength(path) < kMinimumImageLength || !Readable(path))
      return false;
  }
  return true;
}

}  // namespace orbek
