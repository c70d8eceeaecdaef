#include "tests/support/simulator_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/posix/sysfs_ports.h"
#include "tests/support/file_contents.h"

extern char** environ;

namespace orbek::testing {

SimulatorProcess::SimulatorProcess(const std::string& program, const std::string& root,
                                   const std::vector<std::string>& args, double scale,
                                   const std::string& reportName)
    : report_(root + "/" + reportName) {
  std::vector<std::string> words = {program, "--root", root, "--report", report_};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  int pipeEnds[2];
  if (pipe(pipeEnds) != 0)
    return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  char scaleText[32];
  std::snprintf(scaleText, sizeof scaleText, "%g", scale);
  const char* previous = std::getenv("ORBEK_TIME_SCALE");
  const std::string saved = previous != nullptr ? previous : "";
  setenv("ORBEK_TIME_SCALE", scaleText, 1);
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    pid_ = 0;
  if (previous != nullptr)
    setenv("ORBEK_TIME_SCALE", saved.c_str(), 1);
  else
    unsetenv("ORBEK_TIME_SCALE");
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  output_ = pipeEnds[0];
}

SimulatorProcess::~SimulatorProcess() {
  Stop();
  if (output_ >= 0)
    close(output_);
}

int SimulatorProcess::WaitReady(int realMs, size_t sticks) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  while (output_ >= 0 && std::chrono::steady_clock::now() < deadline) {
    // "ready diag=COM5 ...", or with several sticks "ready 1-2 diag=COM29 ..." for each.
    std::vector<std::string> ports;
    std::istringstream lines(buffered_);
    for (std::string line; std::getline(lines, line) && !lines.eof();) {
      const size_t diag = line.find(" diag=");
      if (line.rfind("ready ", 0) == 0 && diag != std::string::npos)
        ports.push_back(line.substr(diag + 6, line.find(' ', diag + 6) - diag - 6));
    }
    if (ports.size() >= sticks) {
      // A COM number, or (with a sysfs tree) a tty that the updater maps to one.
      return ports[0].rfind("COM", 0) == 0 ? std::atoi(ports[0].c_str() + 3)
                                           : platform::ComNumberOfTty(ports[0]);
    }
    pollfd waiting{output_, POLLIN, 0};
    if (poll(&waiting, 1, 100) <= 0)
      continue;
    char chunk[256];
    const ssize_t got = read(output_, chunk, sizeof chunk);
    if (got <= 0)
      break;
    buffered_.append(chunk, static_cast<size_t>(got));
  }
  return 0;
}

void SimulatorProcess::Replug() {
  if (pid_ > 0)
    kill(pid_, SIGUSR1);
}

int SimulatorProcess::Stop() {
  if (pid_ <= 0)
    return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SimulatorProcess::Report() const {
  return ReadFileText(report_);
}

}  // namespace orbek::testing
