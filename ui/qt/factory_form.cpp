// The factory face of the form: the NV settings, start-all and stop-all above, then one row per
// line with its state picture, port, firmware, progress, status, what its start runs (update,
// NV backup or NV restore) and its start and stop buttons.
// Every control keeps its id of the form; the product's texts and versions stay as state.
#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "line/control_ids.h"
#include "line/form_texts.h"
#include "line/line_session.h"
#include "ui/qt/qt_form.h"

namespace orbek::ui {
namespace {

constexpr int kPictureSize = 32;
constexpr int kStatusMinimumWidth = 360;
constexpr int kPortWidth = 150;  // the port and the socket
constexpr int kFirmwareWidth = 200;
constexpr int kBarWidth = 120;
constexpr int kPercentWidth = 36;

}  // namespace

QWidget* QtForm::AddControl(int controlId, QWidget* widget) {
  widget->setObjectName(QString::number(controlId));
  controls_[controlId] = widget;
  return widget;
}

QPushButton* QtForm::AddCommandButton(int controlId, const QString& text) {
  auto* button = new QPushButton(text, this);
  connect(button, &QPushButton::clicked, this, [this, controlId] {
    if (onCommand)
      onCommand(controlId);
  });
  AddControl(controlId, button);
  return button;
}

void QtForm::BuildFactory() {
  auto* page = new QVBoxLayout(this);

  auto* settings = new QGroupBox(this);
  auto* settingsGrid = new QGridLayout(settings);
  auto* modes = new QButtonGroup(this);
  for (int value = 0; value < 4; ++value) {
    auto* radio = new QRadioButton(QString::fromUtf8(kNvModeCaptions[value]), settings);
    modes->addButton(radio, value);
    const int id = control::kNvModeRadio[value];
    connect(radio, &QRadioButton::clicked, this, [this, id] {
      if (onCommand)
        onCommand(id);
    });
    AddControl(id, radio);
    settingsGrid->addWidget(radio, 0, value);
  }
  const struct {
    int button;
    const char* caption;
    int edit;
  } paths[] = {{control::kChooseNvDirectory, kNvDirectoryButton, control::kNvDirectoryEdit},
               {control::kChooseDefaultNvFile, kDefaultNvFileButton, control::kDefaultNvFileEdit}};
  int row = 1;
  for (const auto& path : paths) {
    settingsGrid->addWidget(AddCommandButton(path.button, QString::fromUtf8(path.caption)), row, 0);
    auto* edit = new QLineEdit(settings);
    edit->setReadOnly(true);
    settingsGrid->addWidget(AddControl(path.edit, edit), row, 1, 1, 3);
    ++row;
  }
  auto* allButtons = new QHBoxLayout();
  allButtons->addWidget(AddCommandButton(control::kStartAll, "Start all"));
  allButtons->addWidget(AddCommandButton(control::kStopAll, "Stop all"));
  auto* tally = new QLabel(this);
  tally->setTextFormat(Qt::PlainText);
  allButtons->addWidget(AddControl(control::kFactoryTally, tally), 1);
  settingsGrid->addLayout(allButtons, row, 0, 1, 4);
  page->addWidget(settings);

  auto* lines = new QGridLayout();
  lines->setHorizontalSpacing(8);
  for (int line = 0; line < kLineCount; ++line) {
    lines->addWidget(new QLabel(QString("Line%1").arg(line + 1), this), line, 0);
    auto* picture = new QLabel(this);
    picture->setFixedSize(kPictureSize, kPictureSize);
    lines->addWidget(AddControl(control::kStatePicture[line], picture), line, 1);
    const struct {
      int id;
      int width;
    } texts[] = {{control::kPort[line], kPortWidth}, {control::kFirmware[line], kFirmwareWidth}};
    int column = 2;
    for (const auto& text : texts) {
      auto* label = new QLabel("NULL", this);
      label->setTextFormat(Qt::PlainText);
      label->setFixedWidth(text.width);
      lines->addWidget(AddControl(text.id, label), line, column++);
    }
    auto* bar = new QProgressBar(this);
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    bar->setFixedWidth(kBarWidth);
    lines->addWidget(AddControl(control::kProgressBar[line], bar), line, column++);
    auto* percent = new QLabel(this);
    percent->setFixedWidth(kPercentWidth);
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lines->addWidget(AddControl(control::kPercent[line], percent), line, column++);
    auto* status = new QLabel(this);
    status->setTextFormat(Qt::PlainText);
    status->setMinimumWidth(kStatusMinimumWidth);
    lines->addWidget(AddControl(control::kStatus[line], status), line, column++);
    // What the line's start runs.
    auto* operation = new QComboBox(this);
    operation->addItem("Update", kOperationUpdate);
    operation->addItem("NV backup", kOperationNvBackup);
    operation->addItem("NV restore", kOperationNvRestore);
    connect(operation, &QComboBox::activated, this, [this, line, operation](int index) {
      if (onLineOperation)
        onLineOperation(line, operation->itemData(index).toInt());
    });
    lines->addWidget(AddControl(control::kLineSetting[line], operation), line, column++);
    lines->addWidget(AddCommandButton(control::kStartButton[line], "Start"), line, column++);
    lines->addWidget(AddCommandButton(control::kStopButton[line], "Stop"), line, column++);
  }
  lines->setColumnStretch(6, 1);
  page->addLayout(lines);
}

}  // namespace orbek::ui
