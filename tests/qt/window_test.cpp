// The window face, offscreen and in-process: the real frame, form and program against the
// in-process simulated stick on a fast clock. Message boxes are answered by a timer that
// presses their buttons, as a person would, while the box's own event loop runs.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <thread>

#include "line/control_ids.h"
#include "platform/clock.h"
#include "sim/in_process_bus.h"
#include "sim/port_publisher.h"
#include "sim/stick.h"
#include "sim/stick_config.h"
#include "sim/stick_pump.h"
#include "tests/support/registry_root.h"
#include "tests/support/scoped_environment.h"
#include "ui/qt/updater_window.h"

namespace orbek {
namespace {

using testing::ScopedLanguage;

constexpr int kRealMs = 60000;

// Answers every message box that opens, by the first rule whose text it contains, and keeps
// what each box said; a box no rule expects is kept apart and closed with its first button.
class BoxAnswerer {
 public:
  struct Seen {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  };
  BoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start(5);
  }
  void Answer(const QString& containing, QMessageBox::StandardButton button) {
    rules_.push_back({containing, button});
  }
  std::vector<Seen> seen;
  std::vector<QString> unexpected;

 private:
  void Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible())
      return;
    for (const auto& [containing, button] : rules_) {
      if (box->text().contains(containing) && box->button(button) != nullptr) {
        seen.push_back({box->text(), box->windowTitle(), box->icon(), box->standardButtons()});
        box->button(button)->click();
        return;
      }
    }
    unexpected.push_back(box->text());
    box->buttons().front()->click();
  }
  QTimer timer_;
  std::vector<std::pair<QString, QMessageBox::StandardButton>> rules_;
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() : previousScale_(platform::TimeScale()) { platform::SetTimeScale(50); }
  ~WindowTest() override {
    window.reset();  // its threads end before the stick they talk to
    if (stick)
      stick->RemoveListener(&registry);
    pump.reset();
    bus.reset();
    stick.reset();
    platform::SetTimeScale(previousScale_);
  }

  void PlugStick() {
    stick = std::make_unique<sim::Stick>(config);
    bus = std::make_unique<sim::InProcessBus>(*stick);
    stick->AddListener(&registry);
    stick->Start();
    pump = std::make_unique<sim::StickPump>(*stick);
  }
  void Open() {
    window = std::make_unique<ui::UpdaterWindow>([this](int status) { exits.push_back(status); });
    ASSERT_TRUE(window->Start());
  }
  QString Text(int id) const {
    if (auto* label = qobject_cast<QLabel*>(window->form().Control(id)))
      return label->text();
    return {};
  }
  QWidget* Widget(int id) const { return window->form().Control(id); }
  QProgressBar* Bar() const {
    return qobject_cast<QProgressBar*>(Widget(control::kProgressBar[0]));
  }
  bool WaitFor(const std::function<bool()>& condition, int realMs = kRealMs) {
    return QTest::qWaitFor(condition, realMs);
  }

  testing::RegistryRoot root;
  sim::StickConfig config = sim::DefaultStickConfig();
  std::unique_ptr<sim::Stick> stick;
  std::unique_ptr<sim::InProcessBus> bus;
  sim::RegistryPublisher registry{root.Path(), {}};
  std::unique_ptr<sim::StickPump> pump;
  std::vector<int> exits;
  std::unique_ptr<ui::UpdaterWindow> window;
  BoxAnswerer boxes;

 private:
  double previousScale_;
};

// Checks every control of a table of pixel rectangles (ID X Y WIDTH HEIGHT, "-" for a height
// left to the system) against the form; the number of controls checked.
int ExpectControlsAt(const char* tablePath, const ui::QtForm& form) {
  std::ifstream table(tablePath);
  EXPECT_TRUE(table) << tablePath;
  int controls = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream fields(line);
    int id = 0, x = 0, y = 0, width = 0;
    std::string height;
    EXPECT_TRUE(fields >> id >> x >> y >> width >> height) << line;
    const QWidget* widget = form.findChild<QWidget*>(QString::number(id));
    if (widget == nullptr) {
      ADD_FAILURE() << "no control " << id;
      continue;
    }
    const QRect place = widget->geometry();
    EXPECT_EQ(place.topLeft(), QPoint(x, y)) << id;
    EXPECT_EQ(place.width(), width) << id;
    if (height != "-") {
      EXPECT_EQ(place.height(), std::stoi(height)) << id;
    }
    ++controls;
  }
  return controls;
}

TEST_F(WindowTest, FactoryControlsWhereTheWindowsDialogHasThemWithTheirCaptions) {
  ScopedLanguage english("C");
  window = std::make_unique<ui::UpdaterWindow>([this](int status) { exits.push_back(status); },
                                               /*severalLines=*/true);
  ASSERT_TRUE(window->Start());
  EXPECT_EQ(ExpectControlsAt(ORBEK_FACTORY_PIXELS, window->form()), 83);
  EXPECT_EQ(window->form().size(), QSize(1260, 469));
  // Written out: start-all and the last row's stop button.
  EXPECT_EQ(Widget(control::kStartAll)->geometry(), QRect(11, 98, 88, 25));
  EXPECT_EQ(Widget(control::kStopButton[7])->geometry(), QRect(1173, 427, 81, 25));
  const std::pair<int, const char*> captions[] = {{2033, "不备份,装载缺省NV文件"},
                                                  {2058, "缺省NV文件"},
                                                  {2060, "Start all"},
                                                  {1100, "Stop all"},
                                                  {1015, "Start"},
                                                  {1023, "Stop"}};
  for (const auto& [id, caption] : captions)
    EXPECT_EQ(qobject_cast<QAbstractButton*>(Widget(id))->text(), QString::fromUtf8(caption)) << id;
}

TEST_F(WindowTest, EveryVisibleControlAtItsPlaceWithItsFirstText) {
  ScopedLanguage english("C");
  Open();
  // The table both window faces are held to.
  EXPECT_EQ(ExpectControlsAt(ORBEK_FORM_PIXELS, window->form()), 24);
  // Written out: the instructions' first line and UPDATE, as the dialog manager places them.
  EXPECT_EQ(window->form().findChild<QWidget*>("1176")->geometry(), QRect(11, 18, 730, 21));
  EXPECT_EQ(window->form().findChild<QWidget*>("1008")->geometry(), QRect(663, 312, 117, 77));
  EXPECT_EQ(window->form().size(), QSize(807, 471));
  EXPECT_EQ(window->frame().windowTitle(), "Orbek Updater");
  EXPECT_EQ(window->frame().size(), QSize(807, 471));  // no menu around the form
  EXPECT_FALSE(window->frame().windowIcon().isNull());

  for (int id : {1166, 1167, 1192, 1193})
    EXPECT_EQ(Text(id), "NULL") << id;
  EXPECT_EQ(Text(1168), "Searching communication ports...");
  EXPECT_EQ(Text(1187), "BD_R415C1F3V1.0.1B08 (Firmware)");
  EXPECT_EQ(Text(1190), "WIN_1.0.5B06 (Windows)");
  EXPECT_EQ(Text(1191), "MAC_1.0.5B06 (Mac)");
  EXPECT_EQ(Text(1101), "");
  EXPECT_FALSE(Widget(control::kUpdateButton)->isEnabled());
  EXPECT_EQ(qobject_cast<QPushButton*>(Widget(1008))->text(), "UPDATE");
  EXPECT_TRUE(qobject_cast<QPushButton*>(Widget(1008))->isFlat());
  EXPECT_EQ(qobject_cast<QLabel*>(Widget(1101))->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
  EXPECT_FALSE(qobject_cast<QLabel*>(Widget(1176))->wordWrap());
  EXPECT_EQ(Bar()->minimum(), 0);
  EXPECT_EQ(Bar()->maximum(), 100);
  // The line-state bitmaps 149 to 152 load; another does not.
  for (int bitmap : {149, 150, 151, 152})
    EXPECT_TRUE(window->form().SetPicture(control::kStatePicture[0], bitmap)) << bitmap;
  EXPECT_FALSE(window->form().SetPicture(control::kStatePicture[0], 153));

  // The warnings are red on a transparent background; the other texts keep the default.
  const QColor red(255, 40, 0);
  for (int id : {1171, 1172, 1173}) {
    EXPECT_EQ(Widget(id)->palette().color(QPalette::WindowText), red) << id;
    EXPECT_FALSE(Widget(id)->autoFillBackground()) << id;
  }
  for (int id : {1176, 1183, 1168, 1166})
    EXPECT_NE(Widget(id)->palette().color(QPalette::WindowText), red) << id;
}

TEST_F(WindowTest, TextsInTheSystemsLanguage) {
  const struct {
    const char* locale;
    const char* port;
    const char* warning1;
  } kLanguages[] = {
      {"de_DE.UTF-8", "Port Information:",
       "Bitte schalten Sie während des Update-Prozesses den Computer nicht aus oder starten "
       "irgendwelche Anwendungen."},
      {"de_AT.UTF-8", "Port information:",
       "Do not switch off your computer or start any other applications until the update is "
       "complete."},
  };
  for (const auto& language : kLanguages) {
    ScopedLanguage scoped(language.locale);
    Open();
    EXPECT_EQ(Text(1174), language.port) << language.locale;
    EXPECT_EQ(Text(1171), language.warning1) << language.locale;
    EXPECT_EQ(window->frame().windowTitle(), "Orbek Updater");
    for (int id : {1176, 1177, 1178, 1179, 1182, 1171, 1172, 1173, 1183, 1174, 1184, 1186, 1185})
      EXPECT_FALSE(Text(id).isEmpty()) << id;
    window.reset();
  }
}

TEST_F(WindowTest, SecondInstanceShowsItsBoxAndEndsWithoutAWindow) {
  ScopedLanguage english("C");
  Open();
  boxes.Answer("Another update is in progress.", QMessageBox::Ok);
  std::vector<int> secondExits;
  ui::UpdaterWindow second([&](int status) { secondExits.push_back(status); });
  EXPECT_FALSE(second.Start());
  EXPECT_EQ(secondExits, std::vector<int>{0});
  EXPECT_FALSE(second.frame().isVisible());
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].caption, "Orbek Updater");
  EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Warning);
  EXPECT_TRUE(window->frame().isVisible());
}

TEST_F(WindowTest, BoxFromAWorkerThreadIsOwnedByTheWindowAndAnswered) {
  ScopedLanguage english("C");
  Open();
  boxes.Answer("Keep going?", QMessageBox::No);
  std::future<int> answer = std::async(std::launch::async, [this] {
    return window->form().MessageBox("Keep going?", "Warning", box::kYesNo | box::kIconError);
  });
  ASSERT_TRUE(WaitFor(
      [&] { return answer.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(answer.get(), box::kAnswerNo);
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].caption, "Warning");
  EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
}

TEST_F(WindowTest, ClickOnUpdateRunsTheWholeUpdateAndNoKeepsItRunning) {
  ScopedLanguage english("C");
  config.initialMode = sim::StickMode::Unplugged;
  PlugStick();
  Open();
  EXPECT_FALSE(Widget(control::kUpdateButton)->isEnabled());
  stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);
  ASSERT_TRUE(WaitFor([&] { return Widget(control::kUpdateButton)->isEnabled(); }));
  EXPECT_EQ(Text(1168), "Ready to start update.");
  EXPECT_EQ(Text(1167), "R415C1_FW_1.2.0.17 (Firmware)");

  std::vector<int> positions;
  QObject::connect(Bar(), &QProgressBar::valueChanged,
                   [&](int value) { positions.push_back(value); });
  std::set<QString> percents;
  boxes.Answer("Update is running", QMessageBox::No);
  boxes.Answer("The update was successful.", QMessageBox::Ok);
  QTest::mouseClick(Widget(control::kUpdateButton), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return Text(1168) == "Downloading..."; }));

  // The close button during the update asks, and No keeps it running.
  window->frame().close();
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].caption, "Warning");
  EXPECT_TRUE(window->frame().isVisible());

  ASSERT_TRUE(WaitFor([&] {
    percents.insert(Text(1101));
    return !exits.empty();
  })) << Text(1168).toStdString();
  EXPECT_EQ(exits, std::vector<int>{0});
  ASSERT_EQ(boxes.seen.size(), 2u);
  EXPECT_EQ(boxes.seen[1].caption, "Orbek Updater");
  EXPECT_EQ(boxes.seen[1].icon, QMessageBox::Information);
  EXPECT_EQ(Text(1168), "The update was successful.");
  EXPECT_EQ(Text(1101), "100%");
  EXPECT_EQ(Bar()->value(), 100);
  // The bar went up through the bands of the update, and the percentage with it.
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << positions.size();
  EXPECT_GT(positions.size(), 50u);
  EXPECT_GT(percents.size(), 20u);
  EXPECT_EQ(stick->State().flash.count("amss"), 1u);
  EXPECT_TRUE(boxes.unexpected.empty()) << boxes.unexpected.front().toStdString();
}

}  // namespace
}  // namespace orbek

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setStyle("Fusion");
  orbek::ui::UseFormFont();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
