// The factory tool's two choices on Windows: the NV directory (the shell's folder dialog) and the
// default NV file (the open-file dialog, NVM files). Nothing when the person cancels.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace orbek::ui {

std::optional<std::string> ChooseFolder(HWND owner, const std::string& title,
                                        const std::string& startFolder);
std::optional<std::string> ChooseNvFile(HWND owner);

}  // namespace orbek::ui
