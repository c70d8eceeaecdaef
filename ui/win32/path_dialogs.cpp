#include "ui/win32/path_dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <array>
#include <vector>

#include "platform/win32/wide_text.h"

namespace orbek::ui {
namespace {

using platform::Utf8;
using platform::Wide;

// The folder dialog opens at the folder in use.
int CALLBACK StartInFolder(HWND dialog, UINT message, LPARAM, LPARAM folder) {
  if (message == BFFM_INITIALIZED && folder != 0)
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, folder);
  return 0;
}

}  // namespace

std::optional<std::string> ChooseFolder(HWND owner, const std::string& title,
                                        const std::string& startFolder) {
  const std::wstring wideTitle = Wide(title);
  const std::wstring start = Wide(startFolder);
  BROWSEINFOW browse = {};
  browse.hwndOwner = owner;
  browse.lpszTitle = wideTitle.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  browse.lpfn = StartInFolder;
  browse.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  LPITEMIDLIST chosen = SHBrowseForFolderW(&browse);
  if (chosen == nullptr)
    return std::nullopt;
  std::array<wchar_t, MAX_PATH> path = {};
  const bool named = SHGetPathFromIDListW(chosen, path.data()) != FALSE;
  ILFree(chosen);
  if (!named)
    return std::nullopt;
  return Utf8(path.data());
}

std::optional<std::string> ChooseNvFile(HWND owner) {
  std::vector<wchar_t> path(32768);
  OPENFILENAMEW open = {};
  open.lStructSize = sizeof open;
  open.hwndOwner = owner;
  open.lpstrFilter = L"NVM Files (*.NVM *.nvm)\0*.NVM;*.nvm\0";
  open.lpstrFile = path.data();
  open.nMaxFile = static_cast<DWORD>(path.size());
  open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&open))
    return std::nullopt;
  return Utf8(path.data());
}

}  // namespace orbek::ui
