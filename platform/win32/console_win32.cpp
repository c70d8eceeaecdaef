#include <windows.h>

#include "platform/console.h"

namespace orbek::platform {

bool OutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace orbek::platform
