// Files the updater reads that anyone can put in its place: the registry export, the NV backup
// file, the modem image searched for its version record and the kept backups' states file; the
// first byte picks which.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "nv/nv_backup_store.h"
#include "nv/nv_item_list.h"
#include "package/image_set.h"
#include "platform/files.h"
#include "platform/regedit_text.h"

namespace {

using namespace orbek;

// One scratch file per fuzzing process.
const std::string& ScratchPath() {
  static const std::string path = "/tmp/orbek-fuzz-image-" + std::to_string(getpid());
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1)
    return 0;
  const uint8_t* bytes = input + 1;
  const size_t length = size - 1;
  switch (input[0] % 4) {
    case 0: {
      const std::string text(reinterpret_cast<const char*>(bytes), length);
      platform::ParseRegedit(platform::RegeditBytesToUtf8(text));
      break;
    }
    case 1: {
      // The backup file's exact length, the input repeated into it, and the input as it is.
      std::vector<uint8_t> file(kNvBackupFileSize);
      for (size_t i = 0; i < file.size() && length > 0; ++i)
        file[i] = bytes[i % length];
      NvTable table;
      NvBackupFault(file.data(), file.size());
      NvBackupFault(bytes, length);
      DecodeNvTable(file.data(), file.size(), table);
      NvTableEsn(table);
      IdentityOfTable(table);
      UnansweredNvItems(table);
      DecodeNvTable(bytes, length, table);
      break;
    }
    case 3: {
      // The states file of a stick's kept backups.
      const std::string store = ScratchPath() + "-store";
      // Its records, and the states file of an earlier version, beside one backup.
      platform::CreateDirectories(store + "/00000001");
      for (const char* name : {"/00000001/states.txt", "/00000001/20260101-000000.rec"}) {
        std::FILE* out = std::fopen((store + name).c_str(), "wb");
        if (out == nullptr)
          return 0;
        std::fwrite(bytes, 1, length, out);
        std::fclose(out);
      }
      if (std::FILE* backup = std::fopen((store + "/00000001/20260101-000000.nvm").c_str(), "wb"))
        std::fclose(backup);
      const NvBackupStore kept(store);
      kept.List("00000001");
      kept.WaitingFor(StickIdentity{1, "", "1-1"});
      IdentityOfFolderName(std::string(reinterpret_cast<const char*>(bytes), length));
      break;
    }
    default: {
      std::FILE* out = std::fopen(ScratchPath().c_str(), "wb");
      if (out == nullptr)
        return 0;
      std::fwrite(bytes, 1, length, out);
      std::fclose(out);
      FirmwareRecord record{};
      FindVersionRecordInFile(ScratchPath(), record);
      break;
    }
  }
  return 0;
}
