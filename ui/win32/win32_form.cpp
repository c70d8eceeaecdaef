#include "ui/win32/win32_form.h"

#include <commctrl.h>

#include <algorithm>
#include <type_traits>

#include "line/control_ids.h"
#include "line/form_texts.h"
#include "platform/win32/wide_text.h"

namespace orbek::ui {
namespace {

using platform::Wide;

constexpr int kFormTemplate = 101;
constexpr int kFactoryTemplate = 102;
// A call of another thread, sent to the form: lParam points at the call.
constexpr UINT kRunCallMessage = WM_APP + 1;

}  // namespace

Win32Form::Win32Form(HINSTANCE instance, HWND frame, bool severalLines)
    : instance_(instance), frame_(frame), uiThread_(GetCurrentThreadId()) {
  dialog_ = CreateDialogParamW(instance,
                               MAKEINTRESOURCEW(severalLines ? kFactoryTemplate : kFormTemplate),
                               frame, DialogProcedure, reinterpret_cast<LPARAM>(this));
  if (dialog_ == nullptr)
    return;
  OfferOperations();
  ShowWindow(dialog_, SW_SHOW);
}

// Each line's setting field offers what a start can run, the update first and chosen.
void Win32Form::OfferOperations() {
  for (int id : control::kLineSetting) {
    HWND field = GetDlgItem(dialog_, id);
    if (field == nullptr)
      continue;
    for (const OperationChoice& choice : kOperationChoices) {
      const LRESULT index = SendMessageW(field, CB_ADDSTRING, 0,
                                         reinterpret_cast<LPARAM>(Wide(choice.caption).c_str()));
      SendMessageW(field, CB_SETITEMDATA, static_cast<WPARAM>(index), choice.operation);
    }
    SendMessageW(field, CB_SETCURSEL, 0, 0);
  }
}

Win32Form::~Win32Form() {
  for (auto& [id, bitmap] : pictures_)
    DeleteObject(bitmap);
}

INT_PTR CALLBACK Win32Form::DialogProcedure(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return TRUE;
  }
  auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(dialog, DWLP_USER));
  return form != nullptr ? form->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR Win32Form::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kRunCallMessage:
      (*reinterpret_cast<std::function<void()>*>(lParam))();
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      const ControlColour* colour = ColourOf(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
      if (colour == nullptr)
        return FALSE;  // the form's default colours
      HDC context = reinterpret_cast<HDC>(wParam);
      SetTextColor(context, RGB(colour->red, colour->green, colour->blue));
      if (!colour->transparentBackground)
        return FALSE;
      SetBkMode(context, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(HOLLOW_BRUSH));
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int settingLine = control::IndexOf(control::kLineSetting, id);
      if (settingLine >= 0) {
        if (HIWORD(wParam) == CBN_SELCHANGE && onLineOperation) {
          HWND field = reinterpret_cast<HWND>(lParam);
          const LRESULT chosen = SendMessageW(field, CB_GETCURSEL, 0, 0);
          if (chosen != CB_ERR)
            onLineOperation(settingLine,
                            static_cast<int>(SendMessageW(field, CB_GETITEMDATA,
                                                          static_cast<WPARAM>(chosen), 0)));
        }
      } else if (HIWORD(wParam) == BN_CLICKED && onCommand) {
        onCommand(id);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

template <typename Call>
auto Win32Form::OnUiThread(Call call) {
  using Result = decltype(call());
  if (GetCurrentThreadId() == uiThread_)
    return call();
  if (!calls_.Begin())
    return Result();
  if constexpr (std::is_void_v<Result>) {
    std::function<void()> run = call;
    SendMessageW(dialog_, kRunCallMessage, 0, reinterpret_cast<LPARAM>(&run));
    calls_.End();
  } else {
    Result result{};
    std::function<void()> run = [&] { result = call(); };
    SendMessageW(dialog_, kRunCallMessage, 0, reinterpret_cast<LPARAM>(&run));
    calls_.End();
    return result;
  }
}

void Win32Form::ServeWaitingCalls() {
  if (GetCurrentThreadId() != uiThread_)
    return;
  MSG message;
  // Peeking runs the messages other threads have sent to this thread's windows.
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void Win32Form::Detach() {
  calls_.Detach([this] {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
    ServeWaitingCalls();
  });
}

void Win32Form::SetText(int controlId, const std::string& utf8) {
  OnUiThread([&] {
    if (HWND control = GetDlgItem(dialog_, controlId))
      SetWindowTextW(control, Wide(utf8).c_str());
    else
      hidden_[controlId].text = utf8;
  });
}

void Win32Form::Enable(int controlId, bool enabled) {
  OnUiThread([&] {
    if (HWND control = GetDlgItem(dialog_, controlId))
      EnableWindow(control, enabled ? TRUE : FALSE);
    else
      hidden_[controlId].enabled = enabled;
  });
}

void Win32Form::SetProgressRange(int controlId, int low, int high) {
  OnUiThread([&] {
    if (HWND bar = GetDlgItem(dialog_, controlId))
      SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
  });
}

void Win32Form::SetProgressPosition(int controlId, int position) {
  OnUiThread([&] {
    if (HWND bar = GetDlgItem(dialog_, controlId))
      SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    else
      hidden_[controlId].position = position;
  });
}

bool Win32Form::SetPicture(int controlId, int bitmapId) {
  return OnUiThread([&] {
    auto* bitmap = static_cast<HBITMAP>(
        LoadImageW(instance_, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
    if (bitmap == nullptr)
      return false;
    // Drawn in the factory face; the product keeps its line's picture as state.
    if (HWND picture = GetDlgItem(dialog_, controlId))
      SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    HBITMAP& shown = pictures_[controlId];
    if (shown != nullptr)
      DeleteObject(shown);
    shown = bitmap;
    hidden_[controlId].bitmap = bitmapId;
    return true;
  });
}

void Win32Form::Check(int controlId) {
  OnUiThread([&] {
    const int* radios = control::kNvModeRadio;
    if (control::IndexOf(control::kNvModeRadio, controlId) >= 0)
      CheckRadioButton(dialog_, radios[0], radios[3], controlId);
  });
}

int Win32Form::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  return OnUiThread(
      [&] { return MessageBoxW(frame_, Wide(text).c_str(), Wide(caption).c_str(), style); });
}

void Win32Form::Invalidate() {
  OnUiThread([this] { InvalidateRect(dialog_, nullptr, TRUE); });
}

void Win32Form::RequestClose() {
  // Posted, as a close request is: the frame's close question runs on the UI thread later.
  PostMessageW(frame_, WM_CLOSE, 0, 0);
}

void Win32Form::SetFrameTitle(const std::string& utf8) {
  OnUiThread([&] { SetWindowTextW(frame_, Wide(utf8).c_str()); });
}

void Win32Form::FitFrameToForm() {
  OnUiThread([this] {
    RECT form;
    GetWindowRect(dialog_, &form);
    RECT frame = {0, 0, form.right - form.left, form.bottom - form.top};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(frame_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(frame_, GWL_EXSTYLE)));
    SetWindowPos(frame_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(dialog_, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  });
}

}  // namespace orbek::ui
