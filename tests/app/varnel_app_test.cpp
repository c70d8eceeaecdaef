// The program's start-up, launch and close on a RecordingForm, on a private machine root.
#include "app/varnel_app.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/recording_form.h"
#include "line/control_ids.h"
#include "package/image_package.h"
#include "platform/clock.h"
#include "tests/support/registry_root.h"
#include "tests/support/scoped_environment.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;

using testing::ScopedLanguage;

class AppTest : public ::testing::Test {
 protected:
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const RecordingForm::Box& box : form.Boxes())
      texts.push_back(box.text);
    return texts;
  }

  testing::RegistryRoot root;
  fs::path install =
      fs::path(root.Path()) / "drive_c/Program Files/Windows Service/Tazlonewversion";
  RecordingForm form;
  std::vector<int> exits;
  std::unique_ptr<CVarnelApp> app =
      std::make_unique<CVarnelApp>(form, [this](int status) { exits.push_back(status); });
};

TEST_F(AppTest, StartUpExtractsThePackageAndWaitsForAStick) {
  ScopedLanguage english("C");
  ASSERT_TRUE(app->InitialiseForm());
  EXPECT_TRUE(exits.empty());
  for (const char* file : {"amss.mbn", "efs.mbn", "killsvr.bat", "ResetUSB.dll"})
    EXPECT_TRUE(fs::exists(install / file)) << file;
  EXPECT_FALSE(form.Enabled(control::kUpdateButton));
  EXPECT_EQ(app->doc().lines[0].amssPath, std::string(kInstallDirectory) + "\\amss.mbn");
  EXPECT_TRUE(app->doc().lines[0].searchThread != nullptr);
  EXPECT_TRUE(app->doc().lines[1].searchThread == nullptr);
  EXPECT_EQ(app->doc().lines[1].currentVersion, "NULL");
  EXPECT_TRUE(BoxTexts().empty());

  // Closing with no line busy: no question; the window's end removes the package.
  EXPECT_TRUE(app->ConfirmClose());
  app->DestroyWindow();
  EXPECT_FALSE(fs::exists(install / "amss.mbn"));
  EXPECT_FALSE(fs::exists(install / "ResetUSB.dll"));
  EXPECT_TRUE(fs::exists(install / "killsvr.bat"));
  EXPECT_TRUE(exits.empty());  // nothing was running: the face ends the process itself
}

// Every visible control of the form after start-up, before a stick is found, in both languages.
TEST_F(AppTest, StartUpStateOfEveryVisibleControl) {
  const struct {
    const char* locale;
    const char* search;
    std::map<int, std::string> labels;
  } kLanguages[] = {
      {"C",
       "Searching communication ports...",
       {{1174, "Port information:"},
        {1184, "Current version:"},
        {1185, "Update version:"},
        {1186, "Progress"},
        {1177, "Follow these steps to update your USB Stick:"}}},
      {"de_DE.UTF-8",
       "Gerät wird gesucht...",
       {{1174, "Port Information:"},
        {1184, "Bisherige Version:"},
        {1185, "Neue Version:"},
        {1186, "Fortschritt:"},
        {1177, "Bitte führen Sie folgende Schritte zum aktualisieren des Orbek durch:"}}},
  };
  for (const auto& language : kLanguages) {
    ScopedLanguage scoped(language.locale);
    RecordingForm shown;
    CVarnelApp started(shown, [](int) {});
    ASSERT_TRUE(started.InitialiseForm()) << language.locale;
    EXPECT_EQ(shown.FrameTitle(), "Orbek Updater");
    EXPECT_EQ(shown.FrameFits(), 1);
    for (const auto& [id, text] : language.labels)
      EXPECT_EQ(shown.Text(id), text) << id;
    for (int id : {1176, 1178, 1179, 1182, 1171, 1172, 1173, 1183})
      EXPECT_FALSE(shown.Text(id).empty()) << id;
    EXPECT_EQ(shown.Text(1187), "BD_R415C1F3V1.0.1B08 (Firmware)");
    EXPECT_EQ(shown.Text(1190), "WIN_1.0.5B06 (Windows)");
    EXPECT_EQ(shown.Text(1191), "MAC_1.0.5B06 (Mac)");
    for (int id : {1166, 1167, 1192, 1193})
      EXPECT_EQ(shown.Text(id), "NULL") << id;
    EXPECT_EQ(shown.Text(1168), language.search);
    EXPECT_EQ(shown.Text(1101), "");
    EXPECT_FALSE(shown.Enabled(1008));
    // The hidden factory state: set, never drawn.
    const FactoryControls& factory = started.view().factory();
    EXPECT_EQ(factory.nvModeChoice, 2);
    EXPECT_EQ(factory.downloadVariantChoice, 0);
    EXPECT_TRUE(factory.eraseBootChecked);
    EXPECT_FALSE(factory.eraseBootEnabled);
    EXPECT_EQ(factory.nvDirectoryText, started.doc().lines[0].nvDirectory);
    EXPECT_EQ(shown.TextHistory(control::kNvDirectoryEdit).size(), 0u);
    started.DestroyWindow();
  }
}

// The form's commands by id: start buttons 1008-1015, stop buttons 1016-1023, stop-all 1100.
TEST_F(AppTest, CommandsByTheirIds) {
  ScopedLanguage english("C");
  ASSERT_TRUE(app->InitialiseForm());
  for (int line = 0; line < kLineCount; ++line)
    app->doc().lines[static_cast<size_t>(line)].busy = 1;
  EXPECT_TRUE(app->OnCommand(1016));
  EXPECT_EQ(app->doc().lines[0].busy, 0);
  EXPECT_EQ(app->doc().lines[1].busy, 1);
  EXPECT_TRUE(app->OnCommand(1023));
  EXPECT_EQ(app->doc().lines[7].busy, 0);
  EXPECT_TRUE(app->OnCommand(1100));
  for (const LineSession& line : app->doc().lines)
    EXPECT_EQ(line.busy, 0);
  // The start button of line 3 launches line 3: its empty board tag is refused.
  EXPECT_TRUE(app->OnCommand(1011));
  EXPECT_EQ(BoxTexts().back(), "Selected Update Version does not apply to your device!");
  EXPECT_EQ(form.CloseRequests(), 1);
  EXPECT_FALSE(app->OnCommand(1024));
  EXPECT_FALSE(app->OnCommand(1101));
  app->DestroyWindow();
}

// Start-all in the factory face with no stick anywhere: it says so, waits its 10 s for a stick,
// then says that nothing was started.
TEST_F(AppTest, StartAllWithNoLineReadySaysSoThenThatNothingStarted) {
  ScopedLanguage english("C");
  const double previousScale = platform::TimeScale();
  platform::SetTimeScale(1000);
  app->doc().severalLines = true;
  ASSERT_TRUE(app->InitialiseForm());
  EXPECT_TRUE(app->OnCommand(control::kStartAll));
  EXPECT_EQ(form.Text(control::kFactoryTally),
            "Passed: 0   Failed: 0   No line is ready: each line whose stick is ready within 10 s "
            "starts then.");
  EXPECT_TRUE(app->StartAllWaiting());
  for (int step = 0; step < 1000 && app->StartAllWaiting(); ++step) {
    platform::SleepMs(100);
    app->StartLinesBecomingReady();
  }
  EXPECT_FALSE(app->StartAllWaiting());
  EXPECT_EQ(form.Text(control::kFactoryTally),
            "Passed: 0   Failed: 0   No line was ready: nothing was started.");
  app->DestroyWindow();
  platform::SetTimeScale(previousScale);
}

TEST_F(AppTest, SecondInstanceEndsBeforeWritingAnything) {
  ScopedLanguage german("de_DE.UTF-8");
  RecordingForm otherForm;
  std::vector<int> otherExits;
  CVarnelApp first(otherForm, [&](int status) { otherExits.push_back(status); });
  ASSERT_TRUE(first.InitialiseForm());
  fs::remove(install / "amss.mbn");
  EXPECT_FALSE(app->InitialiseForm());
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                            "Ein anderes Update wird gerade durchgeführt. Bitte warten Sie bis der "
                            "Vorgang beendet wird und versuchen Sie es anschließend erneut!"});
  EXPECT_FALSE(fs::exists(install / "amss.mbn"));
}

TEST_F(AppTest, InstallDirectoryThatCannotBeMade) {
  fs::create_directories(fs::path(root.Path()) / "drive_c/Program Files");
  std::ofstream(fs::path(root.Path()) / "drive_c/Program Files/Windows Service") << "file";
  EXPECT_FALSE(app->InitialiseForm());
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"source file path error!"});
}

TEST_F(AppTest, CloseQuestionWhileALineIsBusy) {
  {
    ScopedLanguage english("C");
    ASSERT_TRUE(app->InitialiseForm());
  }
  app->doc().lines[0].busy = 1;
  form.AnswerNextBox(box::kAnswerNo);
  EXPECT_FALSE(app->ConfirmClose());
  ASSERT_EQ(form.Boxes().size(), 1u);
  EXPECT_EQ(form.Boxes()[0].text,
            "Update is running, stopping the application will damage the datacard，Are you sure "
            "to quit?");
  EXPECT_EQ(form.Boxes()[0].caption, "Warning");
  EXPECT_EQ(form.Boxes()[0].style, box::kYesNo | box::kIconError);
  form.AnswerNextBox(box::kAnswerYes);
  EXPECT_TRUE(app->ConfirmClose());
  app->doc().lines[0].busy = 0;
}

TEST_F(AppTest, GermanCloseQuestion) {
  ScopedLanguage german("de_DE.UTF-8");
  ASSERT_TRUE(app->InitialiseForm());
  app->doc().lines[0].busy = 1;
  form.AnswerNextBox(box::kAnswerNo);
  EXPECT_FALSE(app->ConfirmClose());
  EXPECT_EQ(form.Boxes().back().text, "Still Running, You really want to exit?");
  EXPECT_EQ(form.Boxes().back().caption, "Waring");
  app->doc().lines[0].busy = 0;
}

TEST_F(AppTest, LaunchGateAndPreChecks) {
  ScopedLanguage english("C");
  ASSERT_TRUE(app->InitialiseForm());
  LineSession& line = app->doc().lines[0];

  // A board tag that does not fit: the message and the close request, nothing started.
  app->StartLineOperation(0);
  EXPECT_EQ(BoxTexts().back(), "Selected Update Version does not apply to your device!");
  EXPECT_EQ(form.CloseRequests(), 1);
  EXPECT_EQ(line.busy, 0);
  EXPECT_FALSE(app->OperationEnded(0));

  // A fitting tag, but the stick does not answer: the update's pre-check fails.
  const std::string tag = "R415C1_B01";
  std::copy(tag.begin(), tag.end(), line.versionRecord.begin() + 8 * 31);
  app->StartLineOperation(0);
  EXPECT_EQ(BoxTexts().back(), "Download  fail, please check if   the config file is exist!");
  EXPECT_EQ(line.busy, 0);

  // NV operations on a silent stick do nothing and show nothing.
  const size_t boxes = form.Boxes().size();
  line.operation = kOperationNvBackup;
  app->StartLineOperation(0);
  line.operation = kOperationNvRestore;
  app->StartLineOperation(0);
  EXPECT_EQ(form.Boxes().size(), boxes);
  EXPECT_EQ(line.busy, 0);

  // A stop on an idle line changes nothing.
  app->StopLine(0);
  app->StopAllLines();
  EXPECT_EQ(form.Boxes().size(), boxes);
  app->DestroyWindow();
}

// The update takes the stick out of normal operation at once: a launch whose NV backup could not
// be written starts nothing. (A path below a regular file cannot be written, even by root.)
TEST_F(AppTest, UpdateNeedsBothNvFoldersWritableBeforeItStarts) {
  ScopedLanguage english("C");
  ASSERT_TRUE(app->InitialiseForm());
  LineSession& line = app->doc().lines[0];
  const std::string tag = "R415C1_B01";
  std::copy(tag.begin(), tag.end(), line.versionRecord.begin() + 8 * 31);
  const std::string file = root.Path() + "/a-file";
  std::ofstream(file) << "not a folder";
  const std::string refused = ". Nothing was started: the stick's calibration must be saved first.";

  line.nvDirectory = file;
  EXPECT_FALSE(app->StartLineOperation(0));
  EXPECT_EQ(BoxTexts().back(), "The NV backup cannot be written to " + file + refused);
  line.nvDirectory = root.Path();
  app->doc().nvBackupsDirectory = file + "/nv-backups";
  EXPECT_FALSE(app->StartLineOperation(0));
  EXPECT_EQ(BoxTexts().back(),
            "The NV backup cannot be written to " + file + "/nv-backups" + refused);
  EXPECT_EQ(line.busy, 0);
  EXPECT_FALSE(app->OperationEnded(0));

  // Without a backup (mode 0) the folders do not matter; the next check is the image set's.
  app->doc().nvMode = 0;
  EXPECT_FALSE(app->StartLineOperation(0));
  EXPECT_EQ(BoxTexts().back(), "Download  fail, please check if   the config file is exist!");
  app->DestroyWindow();
}

TEST_F(AppTest, NvBackupNeedsItsDirectoryAndFile) {
  ScopedLanguage english("C");
  ASSERT_TRUE(app->InitialiseForm());
  LineSession& line = app->doc().lines[0];
  const std::string tag = "R415C1_B01";
  std::copy(tag.begin(), tag.end(), line.versionRecord.begin() + 8 * 31);
  line.operation = kOperationNvBackup;
  line.stickState = kStickInDownloadMode;  // its boot loader reads no NV
  EXPECT_FALSE(app->StartLineOperation(0));
  EXPECT_EQ(BoxTexts().back(),
            "The stick is in download mode: its NV can be read or written only once it has been "
            "updated.");
  line.stickState = kStickAnswers;
  line.nvDirectory.clear();
  app->StartLineOperation(0);
  EXPECT_EQ(BoxTexts().back(), "Line1 No NV directory!");
  line.nvDirectory = root.Path();
  line.nvFilePath = root.Path() + "/no/such/dir/Channel1.nvm";
  app->StartLineOperation(0);
  EXPECT_EQ(BoxTexts().back(), "Line1 can't create or open NV file!");
  EXPECT_EQ(line.busy, 0);
  app->DestroyWindow();
}

}  // namespace
}  // namespace orbek
