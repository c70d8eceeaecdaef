#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <sstream>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

extern char** environ;

namespace orbek::platform {

bool RunHiddenAndWait(const std::string& program, const std::string& parameters,
                      const std::string& workingDirectory) {
  std::vector<std::string> words = {program};
  std::istringstream split(parameters);
  for (std::string word; split >> word;)
    words.push_back(word);
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string directory = NativePath(workingDirectory);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  // The program starts with no signal held back, whatever this thread holds back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  const int started =
      posix_spawnp(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0)
    return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return true;
}

}  // namespace orbek::platform
