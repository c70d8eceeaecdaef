// orbek-updater.exe: the updater's window on Windows. The frame (title, icon 128, no menu, no
// sizing border) holds the form, dialog 101. Like the product it takes no options of its own but
// one: --factory shows the factory face, every line at once (dialog 102).
// clang-format off
// The common controls' header needs the Windows header before it.
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/varnel_app.h"
#include "line/control_ids.h"
#include "line/form_texts.h"
#include "ui/win32/path_dialogs.h"
#include "ui/win32/win32_form.h"

namespace {

using namespace orbek;

constexpr const wchar_t* kFrameClass = L"OrbekUpdaterFrame";
constexpr int kIcon = 128;
constexpr DWORD kFrameStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN;

// Starts the lines whose stick becomes ready soon after start-all (the factory face).
constexpr UINT_PTR kStartAllTimer = 1;
constexpr UINT kStartAllCheckMs = 200;

CVarnelApp* runningApp = nullptr;
HWND formWindow = nullptr;

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
    case WM_SETFOCUS:
      // The keyboard goes to the form: the dialog gives the focus to its control that had it,
      // or to its first one that takes it.
      if (formWindow != nullptr)
        SetFocus(formWindow);
      return 0;
    case WM_TIMER:
      if (wParam == kStartAllTimer && runningApp != nullptr)
        runningApp->StartLinesBecomingReady();
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

// The factory tool's two choices open their dialogs here; every other command is the program's.
void OnCommand(CVarnelApp& app, HWND frame, int commandId) {
  if (commandId == control::kChooseNvDirectory)
    app.view().ChooseNvDirectory(
        ui::ChooseFolder(frame, kNvDirectoryDialogTitle, app.doc().lines[0].nvDirectory));
  else if (commandId == control::kChooseDefaultNvFile)
    app.view().ChooseDefaultNvFile(ui::ChooseNvFile(frame));
  else
    app.OnCommand(commandId);
}

}  // namespace

int main(int argc, char** argv) {
  bool severalLines = false;
  for (int i = 1; i < argc; ++i)
    severalLines = severalLines || std::strcmp(argv[i], "--factory") == 0;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  HWND frame = CreateFrame(instance);
  if (frame == nullptr)
    EndProcess(1);
  ui::Win32Form form(instance, frame, severalLines);
  if (!form.created())
    EndProcess(1);
  auto app = std::make_unique<CVarnelApp>(form, EndProcess);
  app->doc().severalLines = severalLines;
  form.onCommand = [&app, frame](int commandId) { OnCommand(*app, frame, commandId); };
  form.onLineOperation = [&app](int line, int operation) {
    app->SetLineOperation(line, operation);
  };
  runningApp = app.get();
  formWindow = form.window();
  if (!app->InitialiseForm())
    EndProcess(0);
  // Shown only now: the whole package has been extracted.
  ShowWindow(frame, SW_SHOWNORMAL);
  UpdateWindow(frame);
  if (severalLines)
    SetTimer(frame, kStartAllTimer, kStartAllCheckMs, nullptr);

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
