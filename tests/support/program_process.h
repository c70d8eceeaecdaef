// A program run by a test: arguments, extra environment, a working directory, text on its
// standard input; its output collected; waited for with a real-time limit.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace orbek::testing {

class ProgramProcess {
 public:
  ProgramProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& environment,
                 const std::string& directory);
  ~ProgramProcess();
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  // Writes to the program's standard input; `close` ends it.
  void Input(const std::string& text, bool close = false);
  void Signal(int signal);
  // Collects output until `text` appears (true) or `realMs` passed (false).
  bool WaitForOutput(const std::string& text, int realMs);
  // Waits for the end; the exit status, or -1 (killed after `realMs`, or ended by a signal).
  int Wait(int realMs);
  const std::string& Output();

 private:
  void Collect(int realMs);

  pid_t pid_ = 0;
  int input_ = -1;
  int output_ = -1;
  std::string collected_;
  int status_ = -2;
};

}  // namespace orbek::testing
