#include "ui/qt/qt_form.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <type_traits>

#include "app/form_template.h"
#include "line/form_texts.h"

namespace orbek::ui {
namespace {

constexpr const char* kTahoma = "/usr/share/wine/fonts/tahoma.ttf";
constexpr int kFormFontPixels = 12;  // 9 pt at 96 dots per inch

QRect Place(const form_template::Control& control) {
  const form_template::PixelRect r =
      form_template::ToPixels(control.x, control.y, control.width, control.height);
  return QRect(r.x, r.y, r.width, r.height);
}

QMessageBox::Icon IconOf(uint32_t style) {
  switch (style & 0xF0) {
    case box::kIconError:
      return QMessageBox::Critical;
    case box::kIconQuestion:
      return QMessageBox::Question;
    case box::kIconExclamation:
      return QMessageBox::Warning;
    case box::kIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

QString UseFormFont() {
  QString family = "Sans Serif";
  if (QFile::exists(kTahoma)) {
    const int loaded = QFontDatabase::addApplicationFont(kTahoma);
    const QStringList families = QFontDatabase::applicationFontFamilies(loaded);
    if (!families.isEmpty())
      family = families.front();
  }
  QFont font(family);
  font.setPixelSize(kFormFontPixels);
  font.setStyleHint(QFont::SansSerif);
  QApplication::setFont(font);
  return QFontInfo(font).family();
}

QtForm::QtForm(QWidget* frame, bool severalLines) : QWidget(frame), frame_(frame) {
  if (severalLines)
    BuildFactory();
  else
    Build();
}

void QtForm::Build() {
  const form_template::PixelRect size =
      form_template::ToPixels(0, 0, form_template::kWidth, form_template::kHeight);
  setFixedSize(size.width, size.height);
  for (const form_template::Control& control : form_template::kControls) {
    QWidget* widget = nullptr;
    switch (control.kind) {
      case form_template::Kind::Text:
      case form_template::Kind::CentredText: {
        auto* label = new QLabel(QString::fromUtf8(control.text), this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        label->setAlignment(
            (control.kind == form_template::Kind::CentredText ? Qt::AlignHCenter : Qt::AlignLeft) |
            Qt::AlignTop);
        if (const ControlColour* colour = ColourOf(control.id)) {
          QPalette palette = label->palette();
          palette.setColor(QPalette::WindowText, QColor(colour->red, colour->green, colour->blue));
          label->setPalette(palette);
          label->setAutoFillBackground(!colour->transparentBackground);
        }
        widget = label;
        break;
      }
      case form_template::Kind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
      case form_template::Kind::FlatButton: {
        auto* button = new QPushButton(QString::fromUtf8(control.text), this);
        button->setFlat(true);
        button->setStyleSheet(
            "QPushButton { border: 1px solid palette(dark); background: palette(button); }"
            "QPushButton:pressed { background: palette(mid); }"
            "QPushButton:disabled { color: palette(mid); }");
        const int id = control.id;
        connect(button, &QPushButton::clicked, this, [this, id] {
          if (onCommand)
            onCommand(id);
        });
        widget = button;
        break;
      }
    }
    widget->setObjectName(QString::number(control.id));
    widget->setGeometry(Place(control));
    controls_[control.id] = widget;
  }
}

template <typename Call>
auto QtForm::OnGuiThread(Call call) {
  using Result = decltype(call());
  if (QThread::currentThread() == thread())
    return call();
  if (!calls_.Begin())
    return Result();
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
    calls_.End();
  } else {
    Result result{};
    QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection, &result);
    calls_.End();
    return result;
  }
}

void QtForm::Detach() {
  calls_.Detach([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
}

QWidget* QtForm::Control(int controlId) const {
  auto found = controls_.find(controlId);
  return found != controls_.end() ? found->second : nullptr;
}

HiddenControl QtForm::Hidden(int controlId) const {
  return const_cast<QtForm*>(this)->OnGuiThread(
      [this, controlId] { return HiddenControlOf(hidden_, controlId); });
}

void QtForm::SetText(int controlId, const std::string& utf8) {
  OnGuiThread([&] {
    QWidget* widget = Control(controlId);
    if (auto* label = qobject_cast<QLabel*>(widget))
      label->setText(QString::fromStdString(utf8));
    else if (auto* button = qobject_cast<QPushButton*>(widget))
      button->setText(QString::fromStdString(utf8));
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
      edit->setText(QString::fromStdString(utf8));
    else if (widget == nullptr)
      hidden_[controlId].text = utf8;
  });
}

void QtForm::Enable(int controlId, bool enabled) {
  OnGuiThread([&] {
    if (QWidget* widget = Control(controlId))
      widget->setEnabled(enabled);
    else
      hidden_[controlId].enabled = enabled;
  });
}

void QtForm::SetProgressRange(int controlId, int low, int high) {
  OnGuiThread([&] {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(controlId)))
      bar->setRange(low, high);
  });
}

void QtForm::SetProgressPosition(int controlId, int position) {
  OnGuiThread([&] {
    if (auto* bar = qobject_cast<QProgressBar*>(Control(controlId)))
      bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    else
      hidden_[controlId].position = position;
  });
}

bool QtForm::SetPicture(int controlId, int bitmapId) {
  return OnGuiThread([&] {
    const QPixmap bitmap(QString(":/orbek/bitmap%1.bmp").arg(bitmapId));
    if (bitmap.isNull())
      return false;
    if (auto* picture = qobject_cast<QLabel*>(Control(controlId)))
      picture->setPixmap(bitmap);
    hidden_[controlId].bitmap = bitmapId;  // drawn only in the factory face
    return true;
  });
}

void QtForm::Check(int controlId) {
  OnGuiThread([&] {
    if (auto* radio = qobject_cast<QRadioButton*>(Control(controlId)))
      radio->setChecked(true);
  });
}

int QtForm::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  return OnGuiThread([&] {
    const bool yesNo = (style & 0x0F) == box::kYesNo;
    QMessageBox message(IconOf(style), QString::fromStdString(caption),
                        QString::fromStdString(text),
                        yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, frame_);
    if (yesNo)
      message.setDefaultButton((style & box::kDefaultNo) != 0 ? QMessageBox::No : QMessageBox::Yes);
    const int pressed = message.exec();
    if (!yesNo)
      return box::kAnswerOk;
    return pressed == QMessageBox::Yes ? box::kAnswerYes : box::kAnswerNo;
  });
}

void QtForm::Invalidate() {
  OnGuiThread([this] { update(); });
}

void QtForm::RequestClose() {
  // Posted, as a close request is: the frame's close question runs on the GUI thread later.
  QPointer<QWidget> frame = frame_;
  QMetaObject::invokeMethod(
      frame_,
      [frame] {
        if (frame)
          frame->close();
      },
      Qt::QueuedConnection);
}

void QtForm::SetFrameTitle(const std::string& utf8) {
  OnGuiThread([&] { frame_->setWindowTitle(QString::fromStdString(utf8)); });
}

void QtForm::FitFrameToForm() {
  OnGuiThread([this] {
    frame_->adjustSize();
    frame_->setFixedSize(frame_->sizeHint());
  });
}

void QtForm::ServeWaitingCalls() {
  if (QThread::currentThread() == thread())
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace orbek::ui
