#include "tests/support/program_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace orbek::testing {

ProgramProcess::ProgramProcess(const std::string& program, const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& environment,
                               const std::string& directory, bool terminal)
    : terminal_(terminal) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    if (environment.count(variable.substr(0, variable.find('='))) == 0)
      variables.push_back(variable);
  }
  for (const auto& [name, value] : environment)
    variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& variable : variables)
    envp.push_back(variable.data());
  envp.push_back(nullptr);

  int in[2];
  int out[2];
  if (terminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
      return;
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
      return;
    in[0] = slave;
    in[1] = master;
    out[0] = fcntl(master, F_DUPFD_CLOEXEC, 0);
    out[1] = fcntl(slave, F_DUPFD_CLOEXEC, 0);
  } else if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
    pid_ = 0;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  output_ = out[0];
}

ProgramProcess::~ProgramProcess() {
  if (pid_ > 0 && status_ == -2) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (input_ >= 0)
    close(input_);
  if (output_ >= 0)
    close(output_);
}

void ProgramProcess::Input(const std::string& text, bool closeInput) {
  if (input_ < 0)
    return;
  if (!text.empty() && write(input_, text.data(), text.size()) < 0)
    return;
  if (closeInput && terminal_) {
    const char endOfInput = 0x04;
    if (write(input_, &endOfInput, 1) < 0)
      return;
  } else if (closeInput) {
    close(input_);
    input_ = -1;
  }
}

void ProgramProcess::Signal(int signal) {
  if (pid_ > 0 && status_ == -2)
    kill(pid_, signal);
}

void ProgramProcess::Collect(int realMs) {
  if (output_ < 0)
    return;
  pollfd waiting{output_, POLLIN, 0};
  if (poll(&waiting, 1, realMs) <= 0)
    return;
  char chunk[4096];
  const ssize_t got = read(output_, chunk, sizeof chunk);
  if (got > 0) {
    collected_.append(chunk, static_cast<size_t>(got));
  } else {
    close(output_);
    output_ = -1;
  }
}

bool ProgramProcess::WaitForOutput(const std::string& text, int realMs) {
  return WaitForOutputCount(text, 1, realMs);
}

size_t ProgramProcess::OutputCount(const std::string& text) const {
  size_t count = 0;
  for (size_t at = collected_.find(text); at != std::string::npos;
       at = collected_.find(text, at + 1)) {
    ++count;
  }
  return count;
}

bool ProgramProcess::WaitForOutputCount(const std::string& text, size_t count, int realMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  while (OutputCount(text) < count) {
    if (output_ < 0 || std::chrono::steady_clock::now() >= deadline)
      return false;
    Collect(50);
  }
  return true;
}

int ProgramProcess::Wait(int realMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  while (status_ == -2 && pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      status_ = -1;
      break;
    }
    Collect(20);
  }
  while (output_ >= 0)
    Collect(100);
  return status_;
}

const std::string& ProgramProcess::Output() {
  return collected_;
}

}  // namespace orbek::testing
