// A "cmd" program on PATH that appends "<directory> <arguments>" to a log for every run, so
// tests see what the updater asked the command interpreter to do.
#pragma once

#include <string>

namespace orbek::testing {

class RecordingCmd {
 public:
  // Creates the program under `directory`; `extraShell` runs after the log line (it may add
  // more lines to "$LOG").
  explicit RecordingCmd(const std::string& directory, const std::string& extraShell = "");
  ~RecordingCmd();
  RecordingCmd(const RecordingCmd&) = delete;
  RecordingCmd& operator=(const RecordingCmd&) = delete;

  // Everything logged so far.
  std::string Log() const;
  bool Ran() const;

 private:
  std::string log_;
  std::string savedPath_;
};

}  // namespace orbek::testing
