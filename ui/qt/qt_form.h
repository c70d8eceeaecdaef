// Form template 101 as Qt widgets: the visible controls at their places, in the form's font, and
// the hidden factory controls as state. Workers call it from their own threads; every call runs
// on the GUI thread and returns when done (queued there and waited for, or directly when the
// caller is the GUI thread).
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "app/cross_thread_calls.h"
#include "app/form.h"
#include "app/form_template.h"
#include "app/hidden_controls.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace orbek::ui {

// Loads Tahoma from Debian's fonts-wine when it is there and makes the form's font (9 pt at 96
// dots per inch: 12 pixels) the application's; returns the family in use.
QString UseFormFont();

class QtForm final : public QWidget, public Form {
 public:
  // With `severalLines`, the factory face: every line's row and the NV settings (the product's
  // instructions and versions are kept as state).
  explicit QtForm(QWidget* frame, bool severalLines = false);

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

  // From now on calls from other threads return at once without touching the widgets (the
  // window is going); calls already queued are run first.
  void Detach();

  // A visible control by its id (nullptr for the hidden ones).
  QWidget* Control(int controlId) const;
  // What a hidden control holds.
  HiddenControl Hidden(int controlId) const;

 private:
  template <typename Call>
  auto OnGuiThread(Call call);
  void Build(bool severalLines);
  QWidget* MakeControl(const form_template::Control& control);
  QPushButton* MakeCommandButton(int controlId, const QString& text);

  QWidget* frame_;
  CrossThreadCalls calls_;
  std::map<int, QWidget*> controls_;
  HiddenControls hidden_;
};

}  // namespace orbek::ui
