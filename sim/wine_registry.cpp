#include "sim/wine_registry.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <vector>

extern char** environ;

namespace orbek::sim {
namespace {

// Wine may start its server and services with the helper: the first answer may take long.
constexpr int kFirstAnswerMs = 120000;
constexpr int kAnswerMs = 10000;

long long NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

WineRegistry::~WineRegistry() {
  Stop();
}

bool WineRegistry::Start(const std::string& prefix, const std::string& helper, std::string& error) {
  int input[2], output[2];
  if (pipe(input) != 0 || pipe(output) != 0) {
    error = std::string("cannot make pipes: ") + std::strerror(errno);
    return false;
  }
  std::vector<std::string> environment = {"WINEPREFIX=" + prefix, "WINEDEBUG=-all"};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "WINEPREFIX=", 11) != 0 && std::strncmp(*entry, "WINEDEBUG=", 10) != 0)
      environment.emplace_back(*entry);
  }
  std::vector<char*> envp;
  for (std::string& entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string wine = "wine", program = helper;
  char* argv[] = {wine.data(), program.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  for (int fd : {input[0], input[1], output[0], output[1]})
    posix_spawn_file_actions_addclose(&actions, fd);
  const int spawned = posix_spawnp(&helper_, "wine", &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  toHelper_ = input[1];
  fromHelper_ = output[0];
  if (spawned != 0) {
    helper_ = -1;
    error = std::string("cannot start wine: ") + std::strerror(spawned);
    Stop();
    return false;
  }
  return true;
}

bool WineRegistry::ReadLine(std::string& line, int timeoutMs) {
  const long long deadline = NowMs() + timeoutMs;
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      return true;
    }
    const long long left = deadline - NowMs();
    if (left <= 0)
      return false;
    pollfd ready{fromHelper_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left)) <= 0)
      continue;
    char buffer[256];
    const ssize_t got = read(fromHelper_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;  // the helper has ended
    pending_.append(buffer, static_cast<size_t>(got));
  }
}

bool WineRegistry::Apply(const std::string& regeditText) {
  if (toHelper_ < 0)
    return false;
  if (!WriteAll(toHelper_, regeditText + "\n.\n"))
    return false;
  const int timeout = firstAnswer_ ? kFirstAnswerMs : kAnswerMs;
  firstAnswer_ = false;
  std::string answer;
  // Lines that are not the answer (Wine's own messages) are passed over.
  while (ReadLine(answer, timeout)) {
    if (answer == "applied")
      return true;
    if (answer == "failed")
      return false;
  }
  return false;
}

void WineRegistry::Stop() {
  if (toHelper_ >= 0)
    close(toHelper_);
  toHelper_ = -1;
  if (helper_ > 0) {
    int status = 0;
    for (int waited = 0; waited < 500; ++waited) {
      if (waitpid(helper_, &status, WNOHANG) == helper_) {
        helper_ = -1;
        break;
      }
      usleep(10000);
    }
    if (helper_ > 0) {
      kill(helper_, SIGKILL);
      waitpid(helper_, &status, 0);
      helper_ = -1;
    }
  }
  if (fromHelper_ >= 0)
    close(fromHelper_);
  fromHelper_ = -1;
}

}  // namespace orbek::sim
