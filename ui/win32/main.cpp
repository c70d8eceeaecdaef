// orbek-updater.exe: the updater's window on Windows. The frame (title, icon 128, no menu, no
// sizing border) holds the form, dialog 101; the program takes no options of its own.
// clang-format off
// The common controls' header needs the Windows header before it.
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/varnel_app.h"
#include "ui/win32/win32_form.h"

namespace {

using namespace orbek;

constexpr const wchar_t* kFrameClass = L"OrbekUpdaterFrame";
constexpr int kIcon = 128;
constexpr DWORD kFrameStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN;

CVarnelApp* runningApp = nullptr;

// The process ends at once: workers may still run, and nothing they use is released first.
[[noreturn]] void EndProcess(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

LRESULT CALLBACK FrameProcedure(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The close button, the system menu, Alt+F4 and a worker's close request.
      if (runningApp == nullptr || runningApp->ConfirmClose())
        DestroyWindow(frame);
      return 0;
    case WM_DESTROY:
      if (runningApp != nullptr)
        runningApp->DestroyWindow();  // the package removed
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(frame, message, wParam, lParam);
  }
}

HWND CreateFrame(HINSTANCE instance) {
  WNDCLASSEXW frameClass = {};
  frameClass.cbSize = sizeof frameClass;
  frameClass.lpfnWndProc = FrameProcedure;
  frameClass.hInstance = instance;
  frameClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIcon));
  frameClass.hIconSm = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(kIcon), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                 GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  frameClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  frameClass.lpszClassName = kFrameClass;
  if (RegisterClassExW(&frameClass) == 0)
    return nullptr;
  return CreateWindowExW(0, kFrameClass, L"", kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
}

}  // namespace

int main() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  HWND frame = CreateFrame(instance);
  if (frame == nullptr)
    EndProcess(1);
  ui::Win32Form form(instance, frame);
  if (!form.created())
    EndProcess(1);
  auto app = std::make_unique<CVarnelApp>(form, EndProcess);
  form.onCommand = [&app](int commandId) { app->OnCommand(commandId); };
  runningApp = app.get();
  if (!app->InitialiseForm())
    EndProcess(0);
  // Shown only now: the whole package has been extracted.
  ShowWindow(frame, SW_SHOWNORMAL);
  UpdateWindow(frame);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(form.window(), &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  form.Detach();
  EndProcess(0);
}
