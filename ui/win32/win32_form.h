// The form as a Win32 dialog, a child of the frame: form template 101, or the factory template
// 102 with every line's row.
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
  // Creates the dialog as a child of `frame` (with `severalLines` the factory's); call on the UI
  // thread.
  Win32Form(HINSTANCE instance, HWND frame, bool severalLines = false);
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  HWND window() const { return dialog_; }
  bool created() const { return dialog_ != nullptr; }

  // What a press of a command control does (its command id).
  std::function<void(int commandId)> onCommand;
  // The factory face: a line's setting field chose what its start runs.
  std::function<void(int line, int operation)> onLineOperation;

  void SetText(int controlId, const std::string& utf8) override;
  void Enable(int controlId, bool enabled) override;
  void SetProgressRange(int controlId, int low, int high) override;
  void SetProgressPosition(int controlId, int position) override;
  bool SetPicture(int controlId, int bitmapId) override;
  void Check(int controlId) override;
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
  void OfferOperations();
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
