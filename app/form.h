// The form the view draws on: the vocabulary of form template 101, with control ids as the
// contract. Faces implement it (the Qt window, the Win32 dialog, the console, RecordingForm for
// tests). Every call may come from any thread; MessageBox blocks its caller until answered.
#pragma once

#include <cstdint>
#include <string>

#include "line/line_report.h"

namespace orbek {

class Form {
 public:
  virtual ~Form() = default;
  virtual void SetText(int controlId, const std::string& utf8) = 0;
  virtual void Enable(int controlId, bool enabled) = 0;
  virtual void SetProgressRange(int controlId, int low, int high) = 0;
  virtual void SetProgressPosition(int controlId, int position) = 0;
  // Checks a radio button (the others of its group are unchecked); faces that draw none keep
  // nothing.
  virtual void Check(int /*controlId*/) {}
  // Shows bitmap resource `bitmapId` in a picture control; false when it cannot be loaded.
  virtual bool SetPicture(int controlId, int bitmapId) = 0;
  virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t style) = 0;
  // Repaint the whole form.
  virtual void Invalidate() = 0;
  // The frame around the form: its title, and its size fitted to the form.
  virtual void SetFrameTitle(const std::string& utf8) = 0;
  virtual void FitFrameToForm() = 0;
  // Called on the UI thread while it waits for another thread (a search thread parking): a face
  // that runs other threads' calls on its UI thread runs the waiting ones here, so that the
  // thread waited for is not itself waiting for the UI thread.
  virtual void ServeWaitingCalls() {}
  virtual void RequestClose() = 0;
};

}  // namespace orbek
