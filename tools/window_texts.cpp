// orbek-window-texts.exe: prints what the visible windows titled TITLE show, for tests and for
// support on Windows: each window's title, then every control of it (and of its child dialogs)
// as "control ID ENABLED TEXT" and "rect ID X Y WIDTH HEIGHT" (in pixels, in its parent's client
// area), one per line, in UTF-8, and "focus ID": the control the keyboard's keys go to (0 when
// none of them).
//   orbek-window-texts.exe [TITLE]     (default: every visible top-level window)
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/wide_text.h"

namespace {

using orbek::platform::Utf8;

// The window's text, asked of its own thread (it may belong to another process), bounded.
std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length) == 0)
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 2000, &copied);
  text.resize(copied);
  return Utf8(text);
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
  const int id = GetDlgCtrlID(control);
  std::printf("control %d %d %s\n", id, IsWindowEnabled(control) ? 1 : 0, TextOf(control).c_str());
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  std::printf("rect %d %ld %ld %ld %ld\n", id, static_cast<long>(rect.left),
              static_cast<long>(rect.top), static_cast<long>(rect.right - rect.left),
              static_cast<long>(rect.bottom - rect.top));
  return TRUE;
}

BOOL CALLBACK PrintWindow(HWND window, LPARAM titleParameter) {
  const auto* title = reinterpret_cast<const std::wstring*>(titleParameter);
  if (!IsWindowVisible(window))
    return TRUE;
  wchar_t caption[512] = {};
  GetWindowTextW(window, caption, 512);
  if (!title->empty() && *title != caption)
    return TRUE;
  std::printf("window %s\n", Utf8(caption).c_str());
  EnumChildWindows(window, PrintControl, 0);
  GUITHREADINFO thread = {};
  thread.cbSize = sizeof thread;
  const bool known = GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread) != FALSE;
  const bool inWindow = known && thread.hwndFocus != nullptr && IsChild(window, thread.hwndFocus);
  std::printf("focus %d\n", inWindow ? GetDlgCtrlID(thread.hwndFocus) : 0);
  return TRUE;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const std::wstring title = count > 1 ? arguments[1] : L"";
  EnumWindows(PrintWindow, reinterpret_cast<LPARAM>(&title));
  std::fflush(stdout);
  return 0;
}
