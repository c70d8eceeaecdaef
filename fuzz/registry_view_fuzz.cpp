// The registry view the port search reads, built from a registry export anyone can put at
// $ORBEK_ROOT/registry.reg, and the text rules around it: the search over the view (its
// "Count", instance ids and "PortName" values), COM numbers from port names, and the AT port's
// answer line. The first byte picks which.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "at/at_port.h"
#include "ports/port_scanner.h"

namespace {

using namespace orbek;

// One machine root per fuzzing process, without a sysfs tree.
const std::string& Root() {
  static const std::string root = [] {
    const std::string path = "/tmp/orbek-fuzz-registry-" + std::to_string(getpid());
    std::filesystem::create_directories(path);
    setenv("ORBEK_ROOT", path.c_str(), 1);
    setenv("ORBEK_SYSFS_ROOT", (path + "/sys").c_str(), 1);
    setenv("ORBEK_DEV_ROOT", (path + "/dev").c_str(), 1);
    return path;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1)
    return 0;
  const std::string text(reinterpret_cast<const char*>(input + 1), size - 1);
  switch (input[0] % 3) {
    case 0: {
      // Replaced atomically, as the simulated stick does, so that the view reads it anew.
      const std::string path = Root() + "/registry.reg";
      const std::string staging = path + ".new";
      if (std::FILE* file = std::fopen(staging.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        std::rename(staging.c_str(), path.c_str());
      }
      PortScanner scanner;
      const FoundPorts found = scanner.ScanOnce();
      if (found.diagPort && *found.diagPort < 0)
        __builtin_trap();  // a port number is never negative
      break;
    }
    case 1:
      if (PortNumberOf(text) < 0)
        __builtin_trap();
      break;
    default: {
      std::string line;
      if (AnswerLine(text, line) && line.size() > text.size())
        __builtin_trap();
      break;
    }
  }
  return 0;
}
