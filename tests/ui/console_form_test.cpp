// The terminal face's form: message boxes that block only their own thread, typed lines as
// answers or commands, the form's labels in front of the values.
#include "ui/console/console_form.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <thread>

#include "line/control_ids.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"
#include "tests/support/wait_until.h"

namespace orbek {
namespace {

using testing::WaitUntil;

class ConsoleFormTest : public ::testing::Test {
 protected:
  ~ConsoleFormTest() override { std::fclose(out); }
  std::string Shown() {
    std::fflush(out);
    return testing::ReadFileText(path);
  }

  testing::RegistryRoot root;
  std::string path = root.Path() + "/console.txt";
  std::FILE* out = std::fopen(path.c_str(), "w");
  ui::ConsoleForm form{out, /*interactiveTerminal=*/false, /*answerYes=*/false};
};

TEST_F(ConsoleFormTest, WaitingBoxBlocksOnlyItsOwnThread) {
  std::future<int> answer = std::async(std::launch::async, [&] {
    return form.MessageBox("Download failure, Please download again!", "Error", box::kOk);
  });
  ASSERT_TRUE(WaitUntil([&] { return Shown().find("[OK]") != std::string::npos; }));
  // Another thread keeps writing while the box waits, and is not held up by it.
  std::future<void> search = std::async(std::launch::async, [&] {
    form.SetText(control::kStatus[0], "Searching communication ports...");
    form.SetText(control::kStatus[0], "Ready to start update.");
  });
  ASSERT_EQ(search.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  const std::string shown = Shown();
  EXPECT_NE(shown.find("Ready to start update.\n[OK]"), std::string::npos) << shown;

  form.Typed("");
  EXPECT_EQ(answer.get(), box::kAnswerOk);
  EXPECT_FALSE(form.TakeCommand());  // the line answered the box: no command
}

TEST_F(ConsoleFormTest, TypedLinesAnswerBoxesInTurnOrBecomeCommands) {
  const auto ask = [&](const char* text) {
    return std::async(std::launch::async,
                      [&, text] { return form.MessageBox(text, "Warning", box::kYesNo); });
  };
  std::future<int> first = ask("first?");
  ASSERT_TRUE(WaitUntil([&] { return Shown().find("first?") != std::string::npos; }));
  std::future<int> second = ask("second?");
  ASSERT_TRUE(WaitUntil([&] { return Shown().find("second?") != std::string::npos; }));
  form.Typed("  Yes");
  EXPECT_EQ(first.get(), box::kAnswerYes);
  form.Typed("whatever");
  EXPECT_EQ(second.get(), box::kAnswerNo);

  form.Typed("update");
  form.Typed("");
  EXPECT_EQ(form.TakeCommand(), "update");
  EXPECT_EQ(form.TakeCommand(), "");
  EXPECT_FALSE(form.TakeCommand());

  // Once the input has ended, a waiting box and every later one are answered at once.
  std::future<int> third = ask("third?");
  ASSERT_TRUE(WaitUntil([&] { return Shown().find("third?") != std::string::npos; }));
  form.InputEnded();
  EXPECT_EQ(third.get(), box::kAnswerNo);
  EXPECT_EQ(form.MessageBox("done", "Orbek Updater", box::kOk), box::kAnswerOk);
}

TEST_F(ConsoleFormTest, ValuesUnderTheFormsOwnLabels) {
  form.SetText(control::kPortLabel, "Port Information:");
  form.SetText(control::kCurrentVersionLabel, "Bisherige Version:");
  form.SetText(control::kProgressLabel, "Fortschritt:");
  form.SetText(control::kPort[0], "COM7");
  form.SetText(control::kFirmwareVersion, "FW (Firmware)");
  form.SetText(control::kWindowsVersion, "WIN (Windows)");
  form.SetText(control::kMacVersion, "MAC (Mac)");
  form.SetText(control::kFirmwareVersion, "FW (Firmware)");  // unchanged: not shown again
  form.SetText(control::kWindowsVersion, "WIN (Windows)");
  form.SetText(control::kMacVersion, "MAC (Mac)");
  form.SetText(control::kPercent[0], "45%");
  form.SetProgressPosition(control::kProgressBar[0], 45);
  EXPECT_EQ(Shown(),
            "Port Information: COM7\n"
            "Bisherige Version: FW (Firmware), WIN (Windows), MAC (Mac)\n"
            "Fortschritt: [##################......................] 45%\n");
}

// With several lines every line's controls are shown named by their line, once each change;
// a line that never had a stick keeps its empty port and firmware to itself.
TEST_F(ConsoleFormTest, SeveralLinesNameTheirLine) {
  std::FILE* lines = std::fopen((root.Path() + "/lines.txt").c_str(), "w");
  {
    ui::ConsoleForm factory(lines, /*interactiveTerminal=*/false, /*answerYes=*/false,
                            /*severalLines=*/true);
    factory.SetText(control::kPortLabel, "Port information:");
    factory.SetText(control::kCurrentVersionLabel, "Current version:");
    factory.SetText(control::kProgressLabel, "Progress");
    factory.SetText(control::kPort[3], "NULL");
    factory.SetText(control::kFirmware[3], "NULL");
    factory.SetText(control::kStatus[3], "Searching communication ports...");
    factory.SetText(control::kPort[3], "COM29");
    factory.SetText(control::kFirmware[3], "FW (Firmware)");
    factory.SetText(control::kFirmware[3], "FW (Firmware)");  // unchanged: not shown again
    factory.SetPicture(control::kStatePicture[3], control::kBitmapReady);  // not a result
    factory.SetPicture(control::kStatePicture[3], control::kBitmapRunning);
    factory.SetProgressPosition(control::kProgressBar[3], 45);
    factory.SetPicture(control::kStatePicture[3], control::kBitmapPass);
    factory.SetPicture(control::kStatePicture[3], control::kBitmapPass);  // once
    factory.SetText(control::kPort[0], "COM5");
  }
  std::fclose(lines);
  EXPECT_EQ(testing::ReadFileText(root.Path() + "/lines.txt"),
            "Line 4 — Searching communication ports...\n"
            "Line 4 — Port information: COM29\n"
            "Line 4 — Current version: FW (Firmware)\n"
            "Line 4 — Running\n"
            "Line 4 — Progress 45%\n"
            "Line 4 — Pass\n"
            "Line 1 — Port information: COM5\n");
}

}  // namespace
}  // namespace orbek
