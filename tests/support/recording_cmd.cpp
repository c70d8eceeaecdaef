#include "tests/support/recording_cmd.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/file_contents.h"

namespace orbek::testing {

namespace fs = std::filesystem;

RecordingCmd::RecordingCmd(const std::string& directory, const std::string& extraShell) {
  const fs::path bin = fs::path(directory) / "bin";
  fs::create_directories(bin);
  log_ = (fs::path(directory) / "cmd.log").string();
  std::ofstream(bin / "cmd") << "#!/bin/sh\nLOG='" << log_ << "'\necho \"$PWD $*\" >> \"$LOG\"\n"
                             << extraShell << "\n";
  fs::permissions(bin / "cmd", fs::perms::owner_all);
  const char* path = std::getenv("PATH");
  savedPath_ = path != nullptr ? path : "";
  setenv("PATH", (bin.string() + ":" + savedPath_).c_str(), 1);
}

RecordingCmd::~RecordingCmd() {
  setenv("PATH", savedPath_.c_str(), 1);
}

std::string RecordingCmd::Log() const {
  return ReadFileText(log_);
}

bool RecordingCmd::Ran() const {
  return fs::exists(log_);
}

}  // namespace orbek::testing
