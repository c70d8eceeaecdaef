#include "app/varnel_doc.h"

#include "platform/files.h"
#include "platform/text_format.h"

namespace orbek {

CVarnelDoc::CVarnelDoc() {
  for (int i = 0; i < kLineCount; ++i)
    lines[static_cast<size_t>(i)].index = i;
  lines[0].diagPort = 1;
  SetNvDirectory(platform::ExecutableDirectory());
}

void CVarnelDoc::SetNvDirectory(const std::string& directory) {
  for (LineSession& line : lines) {
    line.nvDirectory = directory;
    line.nvFilePath = Format("%s\\Channel%d.nvm", directory.c_str(), line.index + 1);
  }
}

}  // namespace orbek
