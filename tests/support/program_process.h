// A program run by a test: arguments, extra environment, a working directory, text on its
// standard input; its output collected; waited for with a real-time limit. With `terminal` its
// standard input and output are a pseudo-terminal, as a person at a terminal has them.
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
                 const std::string& directory, bool terminal = false);
  ~ProgramProcess();
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  // Writes to the program's standard input; `close` ends it (on a terminal: Ctrl-D).
  void Input(const std::string& text, bool close = false);
  void Signal(int signal);
  // Collects output until `text` appears (true) or `realMs` passed (false).
  bool WaitForOutput(const std::string& text, int realMs);
  // The same until `text` stands `count` times in the output.
  bool WaitForOutputCount(const std::string& text, size_t count, int realMs);
  size_t OutputCount(const std::string& text) const;
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
  bool terminal_ = false;
};

}  // namespace orbek::testing
