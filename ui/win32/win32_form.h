// Form template 101 as a Win32 dialog: the form is the dialog resource 101, a child of the frame.
// Workers call it from their own threads; every call runs on the UI thread and returns when done
// (sent to the form and waited for, or directly when the caller is the UI thread). The UI thread
// never waits for a worker without serving the calls sent to it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "app/cross_thread_calls.h"
#include "app/form.h"
#include "app/hidden_controls.h"

namespace orbek::ui {

class Win32Form final : public Form {
 public:
  // Creates dialog 101 as a child of `frame`; call on the UI thread.
  Win32Form(HINSTANCE instance, HWND frame);
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  HWND window() const { return dialog_; }
  bool created() const { return dialog_ != nullptr; }

  // What a press of a command control does (its command id).
  std::function<void(int commandId)> onCommand;

  void SetText(int controlId, const std::string& utf8) override;
  void Enable(int controlId, bool enabled) override;
  void SetProgressRange(int controlId, int low, int high) override;
  void SetProgressPosition(int controlId, int position) override;
  bool SetPicture(int controlId, int bitmapId) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
  void Invalidate() override;
  void RequestClose() override;
  void SetFrameTitle(const std::string& utf8) override;
  void FitFrameToForm() override;
  void ServeWaitingCalls() override;

  // From now on calls from other threads return at once without touching the window (it is
  // going); calls already sent are served first.
  void Detach();

 private:
  static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  template <typename Call>
  auto OnUiThread(Call call);

  HINSTANCE instance_;
  HWND frame_;
  HWND dialog_ = nullptr;
  DWORD uiThread_;
  CrossThreadCalls calls_;
  HiddenControls hidden_;
  std::map<int, HBITMAP> pictures_;
};

}  // namespace orbek::ui
