// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "platform/process.h"

namespace orbek::platform {

bool RunHiddenAndWait(const std::string& program, const std::string& parameters,
                      const std::string& workingDirectory) {
  SHELLEXECUTEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = workingDirectory.c_str();
  info.nShow = SW_HIDE;
  if (!ShellExecuteExA(&info) || info.hProcess == nullptr)
    return false;
  WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hProcess);
  return true;
}

}  // namespace orbek::platform
