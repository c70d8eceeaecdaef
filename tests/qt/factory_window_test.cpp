// The factory face of the window, offscreen and in-process: three simulated sticks, each on the
// line of its socket, started with start-all and updated at once.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <functional>

#include "line/control_ids.h"
#include "platform/clock.h"
#include "sim/in_process_bus.h"
#include "sim/port_publisher.h"
#include "sim/stick.h"
#include "sim/stick_config.h"
#include "sim/stick_pump.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"
#include "tests/support/scoped_environment.h"
#include "ui/qt/updater_window.h"

namespace orbek {
namespace {

constexpr int kSticks = 3;
// Every wait is bounded; a busy machine answers the sticks' NV reads in time at a clock of 5.
constexpr int kRealMs = 300000;
constexpr double kClockScale = 5;

class FactoryWindowTest : public ::testing::Test {
 protected:
  FactoryWindowTest() : previousScale_(platform::TimeScale()) {
    platform::SetTimeScale(kClockScale);
    std::vector<sim::Stick*> plugged;
    for (int i = 0; i < kSticks; ++i) {
      sticks.push_back(
          std::make_unique<sim::Stick>(sim::ConfigOfStick(sim::DefaultStickConfig(), i, kSticks)));
      plugged.push_back(sticks.back().get());
    }
    bus = std::make_unique<sim::InProcessBus>(plugged);
    for (int i = 0; i < kSticks; ++i) {
      sticks[i]->AddListener(&registry.StickListener(i));
      sticks[i]->Start();
      pumps.push_back(std::make_unique<sim::StickPump>(*sticks[i]));
    }
  }
  ~FactoryWindowTest() override {
    window.reset();  // its threads end before the sticks they talk to
    for (int i = 0; i < kSticks; ++i)
      sticks[i]->RemoveListener(&registry.StickListener(i));
    pumps.clear();
    bus.reset();
    sticks.clear();
    platform::SetTimeScale(previousScale_);
  }

  QWidget* Widget(int id) const { return window->form().Control(id); }
  // A click as a person makes it, repeated (five times at most) while it did not take.
  bool ClickUntil(int id, const std::function<bool()>& took) {
    for (int click = 0; click < 5; ++click) {
      QTest::mouseClick(Widget(id), Qt::LeftButton);
      if (QTest::qWaitFor(took, 5000))
        return true;
    }
    return false;
  }
  QString Text(int id) const {
    if (auto* label = qobject_cast<QLabel*>(Widget(id)))
      return label->text();
    return {};
  }

  testing::RegistryRoot root;
  sim::RegistryPublisher registry{root.Path(), {}};
  std::vector<std::unique_ptr<sim::Stick>> sticks;
  std::unique_ptr<sim::InProcessBus> bus;
  std::vector<std::unique_ptr<sim::StickPump>> pumps;
  std::vector<int> exits;
  std::unique_ptr<ui::UpdaterWindow> window;

 private:
  double previousScale_;
};

TEST_F(FactoryWindowTest, StartAllUpdatesEachRowThenOneRowBacksUpItsOwnNv) {
  testing::ScopedLanguage english("C");
  window = std::make_unique<ui::UpdaterWindow>([this](int status) { exits.push_back(status); },
                                               /*severalLines=*/true);
  ASSERT_TRUE(window->Start());
  // The NV settings: four choices with their captions, the third checked at start.
  const char* captions[] = {"No bakup NV", "Only restore RF NV", "Restore RF NV and IMEI",
                            "不备份,装载缺省NV文件"};
  for (int value = 0; value < 4; ++value) {
    auto* radio = qobject_cast<QRadioButton*>(Widget(control::kNvModeRadio[value]));
    ASSERT_NE(radio, nullptr);
    EXPECT_EQ(radio->text(), QString::fromUtf8(captions[value]));
    EXPECT_EQ(radio->isChecked(), value == 2);
  }
  EXPECT_EQ(qobject_cast<QPushButton*>(Widget(control::kChooseNvDirectory))->text(),
            "nv bakup path");
  // The updates keep their NV files in a folder of their own, not beside the program.
  const std::string updatesNv = root.Path() + "/nv";
  std::filesystem::create_directories(updatesNv);
  window->app().view().ChooseNvDirectory(updatesNv);

  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (int line = 0; line < kSticks; ++line) {
          if (!Widget(control::kStartButton[line])->isEnabled())
            return false;
        }
        return true;
      },
      kRealMs));
  EXPECT_FALSE(Widget(control::kStartButton[kSticks])->isEnabled());  // no stick on line 4
  for (int line = 0; line < kSticks; ++line)
    EXPECT_EQ(Text(control::kStatus[line]), "Ready to start update.");

  ASSERT_TRUE(ClickUntil(control::kStartAll, [&] {
    return Widget(control::kStopButton[0])->isEnabled() &&
           Widget(control::kStopButton[1])->isEnabled() &&
           Widget(control::kStopButton[2])->isEnabled();
  }));
  const bool allPassed = QTest::qWaitFor(
      [&] {
        // Each line passed, is idle again (its stop button off) and shows its stick ready after
        // the final reset, its result kept: the Pass picture and a full bar.
        for (int line = 0; line < kSticks; ++line) {
          if (window->form().Hidden(control::kStatePicture[line]).bitmap != control::kBitmapPass ||
              Widget(control::kStopButton[line])->isEnabled() ||
              !Widget(control::kStartButton[line])->isEnabled() ||
              Text(control::kPercent[line]) != "100%")
            return false;
        }
        return true;
      },
      kRealMs);
  if (const char* shot = std::getenv("ORBEK_FACTORY_SHOT"))
    window->frame().grab().save(shot);
  ASSERT_TRUE(allPassed) << Text(control::kStatus[0]).toStdString() << " / "
                         << Text(control::kStatus[1]).toStdString() << " / "
                         << Text(control::kStatus[2]).toStdString();
  EXPECT_TRUE(exits.empty());  // the program goes on after each line's success
  EXPECT_EQ(Text(control::kFactoryTally), "Passed: 3   Failed: 0");
  for (int line = 0; line < kSticks; ++line) {
    SCOPED_TRACE("line " + std::to_string(line + 1));
    EXPECT_EQ(Text(control::kStatus[line]), "The update was successful.");
    EXPECT_FALSE(qobject_cast<QLabel*>(Widget(control::kStatePicture[line]))->pixmap().isNull());
    std::lock_guard<std::recursive_mutex> hold(sticks[line]->Mutex());
    EXPECT_EQ(sticks[line]->State().flash.count("amss"), 1u);
  }

  // The second row, set to NV backup, saves its own stick's NV into its own file.
  window->app().view().ChooseNvDirectory(root.Path());
  auto* operation = qobject_cast<QComboBox*>(Widget(control::kLineSetting[1]));
  ASSERT_NE(operation, nullptr);
  operation->setFocus();
  QTest::keyClick(operation, Qt::Key_Down);
  EXPECT_EQ(operation->currentText(), "NV backup");
  EXPECT_EQ(window->app().doc().lines[1].operation, kOperationNvBackup);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return Widget(control::kStartButton[1])->isEnabled(); }, kRealMs));
  ASSERT_TRUE(ClickUntil(control::kStartButton[1], [&] {
    return Text(control::kStatus[1]) != "The update was successful.";
  }));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Text(control::kStatus[1]) == QString::fromUtf8("备份NV区成功"); }, kRealMs))
      << Text(control::kStatus[1]).toStdString();
  const std::vector<uint8_t> backup = testing::ReadFileBytes(root.Path() + "/Channel2.nvm");
  ASSERT_GE(backup.size(), 8u);
  const uint32_t esn =
      static_cast<uint32_t>(backup[4] | backup[5] << 8 | backup[6] << 16 | backup[7] << 24);
  // The stick the row holds: the one whose port the row found.
  uint32_t rowsStick = 0;
  for (const auto& stick : sticks) {
    if (stick->PortByCom(window->app().doc().lines[1].diagPort))
      rowsStick = stick->Config().esn;
  }
  EXPECT_EQ(esn, rowsStick) << std::hex << esn;
  EXPECT_FALSE(std::filesystem::exists(root.Path() + "/Channel1.nvm"));  // only its own line's
}

}  // namespace
}  // namespace orbek
