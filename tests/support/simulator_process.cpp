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

int SimulatorProcess::WaitReady(int realMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  while (output_ >= 0 && std::chrono::steady_clock::now() < deadline) {
    const size_t ready = buffered_.find("ready diag=");
    if (ready != std::string::npos && buffered_.find('\n', ready) != std::string::npos) {
      const std::string port =
          buffered_.substr(ready + 11, buffered_.find_first_of(" \n", ready + 11) - ready - 11);
      // A COM number, or (with a sysfs tree) a tty that the updater maps to one.
      return port.rfind("COM", 0) == 0 ? std::atoi(port.c_str() + 3)
                                       : platform::ComNumberOfTty(port);
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
