#include <unistd.h>

#include "platform/console.h"

namespace orbek::platform {

bool OutputIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

}  // namespace orbek::platform
