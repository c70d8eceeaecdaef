#include "ui/qt/qt_form.h"

#include <QApplication>
#include <QComboBox>
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
#include "line/control_ids.h"
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
  Build(severalLines);
}

void QtForm::Build(bool severalLines) {
  const form_template::PixelRect size = form_template::ToPixels(
      0, 0, severalLines ? form_template::kFactoryWidth : form_template::kWidth,
      severalLines ? form_template::kFactoryHeight : form_template::kHeight);
  setFixedSize(size.width, size.height);
  // Created in the template's order, which is the order Tab follows.
  for (const form_template::Control& control : form_template::ControlsOf(severalLines)) {
    QWidget* widget = MakeControl(control);
    widget->setGeometry(Place(control));
    if (control.id < 0)
      continue;  // a row's line name
    widget->setObjectName(QString::number(control.id));
    controls_[control.id] = widget;
  }
}

QPushButton* QtForm::MakeCommandButton(int controlId, const QString& text) {
  auto* button = new QPushButton(text, this);
  // Enter presses the focused button, as Space does (a window's buttons take only Space).
  button->setAutoDefault(true);
  connect(button, &QPushButton::clicked, this, [this, controlId] {
    if (onCommand)
      onCommand(controlId);
  });
  return button;
}

QWidget* QtForm::MakeControl(const form_template::Control& control) {
  using form_template::Kind;
  const QString text = QString::fromUtf8(control.text);
  switch (control.kind) {
    case Kind::Text:
    case Kind::CentredText:
    case Kind::RightText: {
      auto* label = new QLabel(text, this);
      label->setTextFormat(Qt::PlainText);
      label->setWordWrap(false);
      const Qt::Alignment across = control.kind == Kind::CentredText ? Qt::AlignHCenter
                                   : control.kind == Kind::RightText ? Qt::AlignRight
                                                                     : Qt::AlignLeft;
      label->setAlignment(across | Qt::AlignTop);
      if (const ControlColour* colour = ColourOf(control.id)) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(colour->red, colour->green, colour->blue));
        label->setPalette(palette);
        label->setAutoFillBackground(!colour->transparentBackground);
      }
      return label;
    }
    case Kind::Picture: {
      auto* picture = new QLabel(this);
      picture->setAlignment(Qt::AlignCenter);
      return picture;
    }
    case Kind::ProgressBar: {
      auto* bar = new QProgressBar(this);
      bar->setRange(0, 100);
      bar->setValue(0);
      bar->setTextVisible(false);
      return bar;
    }
    case Kind::FlatButton: {
      QPushButton* button = MakeCommandButton(control.id, text);
      button->setFlat(true);
      button->setStyleSheet(
          "QPushButton { border: 1px solid palette(dark); background: palette(button); }"
          "QPushButton:pressed { background: palette(mid); }"
          "QPushButton:disabled { color: palette(mid); }"
          "QPushButton:focus { border: 2px solid palette(highlight); }");
      return button;
    }
    case Kind::Button:
      return MakeCommandButton(control.id, text);
    case Kind::FirstRadio:
    case Kind::Radio: {
      // The radio buttons of one parent exclude each other.
      auto* radio = new QRadioButton(text, this);
      connect(radio, &QRadioButton::clicked, this, [this, id = control.id] {
        if (onCommand)
          onCommand(id);
      });
      return radio;
    }
    case Kind::Edit: {
      auto* edit = new QLineEdit(text, this);
      edit->setReadOnly(true);
      return edit;
    }
    case Kind::Combo: {
      auto* choice = new QComboBox(this);
      for (const OperationChoice& offered : kOperationChoices)
        choice->addItem(QString::fromUtf8(offered.caption), offered.operation);
      const int line = control::IndexOf(control::kLineSetting, control.id);
      connect(choice, &QComboBox::activated, this, [this, line, choice](int index) {
        if (onLineOperation)
          onLineOperation(line, choice->itemData(index).toInt());
      });
      return choice;
    }
  }
  return new QWidget(this);
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
