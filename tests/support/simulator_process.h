// The program orbek-stick-sim run by a test: started on a root with arguments and a clock
// scale, waited for until its ports are published, stopped with SIGTERM for its report.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace orbek::testing {

class SimulatorProcess {
 public:
  // Starts `program --root ROOT --report ROOT/<reportName> ARGS...` with ORBEK_TIME_SCALE set to
  // `scale`.
  SimulatorProcess(const std::string& program, const std::string& root,
                   const std::vector<std::string>& args, double scale,
                   const std::string& reportName = "report.json");
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // Reads the program's output until it announces the ports of `sticks` sticks (up to
  // `realMs`); the first diagnostic port's COM number (for a sysfs tree, the one the updater
  // gives its tty), or 0.
  int WaitReady(int realMs = 20000, size_t sticks = 1);
  // SIGUSR1: the stick pulled out and plugged back in.
  void Replug();
  // SIGTERM and wait; the exit status (-1 when it did not exit normally).
  int Stop();
  const std::string& ReportPath() const { return report_; }
  // The whole report (after Stop).
  std::string Report() const;

 private:
  pid_t pid_ = 0;
  int output_ = -1;
  std::string report_;
  std::string buffered_;
};

}  // namespace orbek::testing
