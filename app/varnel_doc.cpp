#include "app/varnel_doc.h"

#include "nv/nv_backup_store.h"
#include "platform/files.h"
#include "platform/text_format.h"

namespace orbek {

CVarnelDoc::CVarnelDoc() {
  for (int i = 0; i < kLineCount; ++i)
    lines[static_cast<size_t>(i)].index = i;
  lines[0].diagPort = 1;
  // An installed program's folder belongs to the system: the backups then go to the user's own.
  std::string nvHome = platform::ExecutableDirectory();
  if (!platform::DirectoryWritable(nvHome)) {
    nvHome = platform::UserDataDirectory();
    platform::CreateDirectories(nvHome);
  }
  SetNvDirectory(nvHome);
  nvBackupsDirectory = NvBackupStore::DefaultDirectory();
}

void CVarnelDoc::SetNvDirectory(const std::string& directory) {
  for (LineSession& line : lines) {
    line.nvDirectory = directory;
    line.nvFilePath = Format("%s\\Channel%d.nvm", directory.c_str(), line.index + 1);
  }
}

}  // namespace orbek
