// The windows with the keyboard alone, offscreen and in-process: Tab reaches every enabled
// control in reading order, Enter and Space press the focused button, Esc answers a box as its
// close button does. No stick is plugged: the lines search.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <vector>

#include "line/control_ids.h"
#include "line/line_report.h"
#include "tests/support/registry_root.h"
#include "tests/support/scoped_environment.h"
#include "ui/qt/updater_window.h"

namespace orbek {
namespace {

class KeyboardTest : public ::testing::Test {
 protected:
  void Open(bool severalLines) {
    window = std::make_unique<ui::UpdaterWindow>([](int) {}, severalLines);
    ASSERT_TRUE(window->Start());
    window->frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window->frame()));
    // What the buttons would do is recorded instead.
    window->form().onCommand = [this](int id) { commands.push_back(id); };
  }
  QWidget* Widget(int id) const { return window->form().Control(id); }
  static int FocusedId() {
    QWidget* focus = QApplication::focusWidget();
    return focus != nullptr ? focus->objectName().toInt() : 0;
  }
  // The controls Tab reaches, once round from the one that has the focus (0: none has it).
  std::vector<int> TabRound() {
    std::vector<int> reached = {FocusedId()};
    for (int press = 0; press < 100; ++press) {
      QTest::keyClick(
          QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &window->frame(),
          Qt::Key_Tab);
      if (FocusedId() == reached.front())
        break;
      reached.push_back(FocusedId());
    }
    return reached;
  }

  testing::ScopedLanguage english{"C"};
  testing::RegistryRoot root;
  std::unique_ptr<ui::UpdaterWindow> window;
  std::vector<int> commands;
};

TEST_F(KeyboardTest, TabReachesEveryEnabledControlInReadingOrderAndSkipsDisabledOnes) {
  Open(/*severalLines=*/true);
  // The NV settings, start-all (stop-all is off), then each row's setting field: no row's start
  // or stop is on while the lines search. The radio buttons are one stop (the arrows move among
  // them); Qt enters the group at its first button, Windows at the checked one.
  const std::vector<int> settings = {2030, 2057, 2055, 2058, 2056, 2060};
  std::vector<int> expected = settings;
  for (int line = 0; line < kLineCount; ++line)
    expected.push_back(control::kLineSetting[line]);
  EXPECT_EQ(TabRound(), expected);

  // A row whose start is on is reached after its setting field.
  window->form().Enable(control::kStartButton[1], true);
  expected.insert(expected.begin() + settings.size() + 2, control::kStartButton[1]);
  EXPECT_EQ(TabRound(), expected);
}

TEST_F(KeyboardTest, ProductWindowReachesUpdateOnlyWhenItIsOn) {
  Open(/*severalLines=*/false);
  QTest::keyClick(&window->frame(), Qt::Key_Tab);
  EXPECT_EQ(FocusedId(), 0);  // UPDATE is off while the stick is searched
  window->form().Enable(control::kUpdateButton, true);
  QTest::keyClick(&window->frame(), Qt::Key_Tab);
  EXPECT_EQ(TabRound(), std::vector<int>{control::kUpdateButton});
}

TEST_F(KeyboardTest, EnterAndSpacePressTheFocusedButtonInBothWindows) {
  const struct {
    bool severalLines;
    int button;
  } windows[] = {{false, control::kUpdateButton}, {true, control::kStartAll}};
  for (const auto& face : windows) {
    Open(face.severalLines);
    window->form().Enable(face.button, true);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
      SCOPED_TRACE(::testing::Message() << face.button << " key " << key);
      commands.clear();
      Widget(face.button)->setFocus();
      QTest::keyClick(Widget(face.button), key);
      EXPECT_EQ(commands, std::vector<int>{face.button});
    }
  }
}

TEST_F(KeyboardTest, EscAnswersABoxAsItsCloseButtonDoes) {
  Open(/*severalLines=*/false);
  const struct {
    uint32_t style;
    int answer;
  } boxes[] = {{box::kOk | box::kIconInformation, box::kAnswerOk},
               {box::kYesNo | box::kIconQuestion, box::kAnswerNo},
               {box::kYesNo | box::kIconQuestion | box::kDefaultNo, box::kAnswerNo}};
  for (const auto& shown : boxes) {
    SCOPED_TRACE(shown.style);
    QTimer escape;
    QObject::connect(&escape, &QTimer::timeout, [] {
      if (QWidget* box = QApplication::activeModalWidget())
        QTest::keyClick(box, Qt::Key_Escape);
    });
    escape.start(20);
    EXPECT_EQ(window->form().MessageBox("Text", "Caption", shown.style), shown.answer);
  }
}

}  // namespace
}  // namespace orbek
