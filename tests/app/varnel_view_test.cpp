// The view's window operations, drawn on a RecordingForm.
#include "app/varnel_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/recording_form.h"
#include "line/control_ids.h"
#include "line/form_texts.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"
#include "tests/support/simulated_stick_test.h"
#include "tests/support/wait_until.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;

const LocalTime kStampTime{2010, 7, 16, 9, 5, 3};

class ViewTest : public testing::SimulatedStickTest {
 protected:
  void SetUp() override {
    SimulatedStickTest::SetUp();
    view.now = [] { return kStampTime; };
    ASSERT_TRUE(doc.lines[0].link.port.Open(stick->Ports()[0].com));
  }

  std::string ReadLog(int line) {
    return testing::ReadFileText(root.Path() + "/Logs/ActionLog" + std::to_string(line + 1) +
                                 "_2010716953.txt");
  }

  testing::RegistryRoot root;
  RecordingForm form;
  CVarnelDoc doc;
  CVarnelView view{form, doc, false, LogDirectory(root.Path())};
};

TEST(FormTexts, LanguageIsGermanOnlyForGermany) {
  EXPECT_TRUE(UseGermanFor(0x0407));
  for (uint16_t id : {0x0409, 0x0807, 0x0C07, 0x1007, 0x1407})
    EXPECT_FALSE(UseGermanFor(id)) << id;

  for (bool german : {false, true}) {
    RecordingForm form;
    CVarnelDoc doc;
    CVarnelView view(form, doc, german, "/tmp");
    view.ApplyLanguageTexts();
    EXPECT_EQ(form.Text(control::kProgressLabel), german ? "Fortschritt:" : "Progress");
    EXPECT_EQ(form.Text(control::kCurrentVersionLabel),
              german ? "Bisherige Version:" : "Current version:");
    EXPECT_EQ(form.Text(control::kInstruction4),
              german ? "2. Bitte warten Sie bis das System den Orbek erkannt hat. Sobald das Gerät "
                       "erkannt wurde, wird die Schaltfläche für die Aktualisierung aktiviert."
                     : "2. Wait until this tool automatically detects the stick and the \"UPDATE\" "
                       "button becomes available.");
    EXPECT_EQ(form.Invalidations(), 1);
  }
  EXPECT_EQ(kLanguageTexts[0].controlId, 1176);
  EXPECT_EQ(kLanguageTexts[12].controlId, 1185);
}

TEST(FormTexts, WarningsAreRed) {
  for (int id : {1171, 1172, 1173}) {
    const ControlColour* colour = ColourOf(id);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->red, 255);
    EXPECT_EQ(colour->green, 40);
    EXPECT_EQ(colour->blue, 0);
    EXPECT_TRUE(colour->transparentBackground);
  }
  EXPECT_EQ(ColourOf(1168), nullptr);
  EXPECT_EQ(ColourOf(1176), nullptr);
}

TEST_F(ViewTest, StatusLinesAreStampedInTheLogOnly) {
  view.SetLineStatus(0, "Gerät bereit", true);
  view.SetLineStatus(0, "plain", false);
  EXPECT_EQ(doc.lines[0].statusLog, "2010.7.16 9:5:3——Gerät bereit\nplain\n");
  EXPECT_EQ(form.Text(1168), "plain");
  view.SetLineStatus(3, "line four", false);
  EXPECT_EQ(form.Text(1035), "line four");
}

TEST_F(ViewTest, ProgressAndPort) {
  view.SetLineProgress(0, 150);
  EXPECT_EQ(form.Text(1101), "100%");
  view.SetLineProgress(0, 42);
  EXPECT_EQ(form.Text(1101), "42%");
  EXPECT_EQ(form.ProgressPosition(1024), 42);
  view.SetLineProgress(0, 0);
  EXPECT_EQ(form.ProgressRange(1024), (std::pair<int, int>{0, 100}));
  EXPECT_EQ(form.ProgressPosition(1024), 0);
  EXPECT_EQ(form.Text(1101), "0%");

  for (int port : {0, 1}) {
    doc.lines[0].diagPort = port;
    view.ShowLinePort(0);
    EXPECT_EQ(form.Text(1166), "NULL");
  }
  doc.lines[0].diagPort = 12;
  view.ShowLinePort(0);
  EXPECT_EQ(form.Text(1166), "COM12");
  doc.lines[2].diagPort = 3;
  view.ShowLinePort(2);
  EXPECT_EQ(form.Text(1002), "COM3");
}

TEST_F(ViewTest, StatePictures) {
  view.SetLineState(0, kLineRunning);
  EXPECT_EQ(form.Picture(control::kStatePicture[0]), 152);
  form.FailBitmap(150);
  view.SetLineState(0, kLinePass);
  view.SetLineState(0, 7);
  auto boxes = form.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Load Pass图标失败!");
  EXPECT_EQ(boxes[1].text, "出现不可知的状态类型!");
}

TEST_F(ViewTest, ControlsFollowTheBusyLines) {
  doc.lines[0].busy = 1;
  view.EnableLineControls(0, false);
  EXPECT_FALSE(form.Enabled(control::kUpdateButton));
  EXPECT_TRUE(form.Enabled(control::kStopButton[0]));
  EXPECT_FALSE(form.Enabled(control::kSharedSettings[0]));
  EXPECT_TRUE(form.Enabled(control::kStopAll));
  EXPECT_TRUE(form.Enabled(control::kStartAll));  // not every line is busy

  for (LineSession& line : doc.lines)
    line.busy = 1;
  view.EnableLineControls(1, false);
  EXPECT_FALSE(form.Enabled(control::kStartAll));

  for (LineSession& line : doc.lines)
    line.busy = 0;
  view.EnableLineControls(0, true);
  EXPECT_TRUE(form.Enabled(control::kUpdateButton));
  EXPECT_FALSE(form.Enabled(control::kStopAll));
  EXPECT_TRUE(form.Enabled(control::kLineSetting[4]));
}

TEST_F(ViewTest, EndingAFailedUpdateResetsTheStickAndWritesTheLog) {
  LineSession& line = doc.lines[0];
  line.busy = 1;
  line.statusLog = "header\n";
  std::atomic<int> resumed{0};
  line.searchThread = std::make_unique<platform::SuspendableThread>(
      [&resumed](platform::SuspendableThread&) { ++resumed; });

  view.EndLineOperation(0, "Update fehlgeschlagen", kOutcomeFailed);
  EXPECT_EQ(line.statusLog,
            "header\n2010.7.16 9:5:3——Update fehlgeschlagen\n2010.7.16 9:5:3——Update "
            "fehlgeschlagen\n");
  EXPECT_EQ(ReadLog(0), "header\r\n2010.7.16 9:5:3\xA1\xAA\xA1\xAAUpdate fehlgeschlagen\r\n");
  EXPECT_EQ(form.Picture(control::kStatePicture[0]), 149);
  EXPECT_EQ(Requests("firmware", 0x29), 1u);  // ResetPhone
  EXPECT_EQ(line.stickState, kStickSilent);
  EXPECT_EQ(line.busy, 0);
  EXPECT_TRUE(form.Enabled(control::kUpdateButton));
  EXPECT_EQ(form.Text(1101), "0%");
  EXPECT_TRUE(form.Boxes().empty());
  EXPECT_TRUE(testing::WaitUntil([&] { return resumed == 1; }));  // the search thread was resumed

  // A second end within the same second replaces the file, with the whole log once more.
  view.EndLineOperation(0, "again", kOutcomeFailed);
  EXPECT_EQ(ReadLog(0),
            "header\r\n2010.7.16 9:5:3\xA1\xAA\xA1\xAAUpdate fehlgeschlagen\r\n2010.7.16 "
            "9:5:3\xA1\xAA\xA1\xAAUpdate fehlgeschlagen\r\n2010.7.16 9:5:3\xA1\xAA\xA1\xAA"
            "again\r\n");
}

TEST_F(ViewTest, EndingInDownloadModeAsksForAManualRestart) {
  config.initialMode = sim::StickMode::DmssDownload;
  doc.lines[0].link.port.Close();
  PlugIn();
  ASSERT_TRUE(doc.lines[0].link.port.Open(stick->Ports()[0].com));
  doc.lines[0].link.mode = LinkMode::Dload;

  view.EndLineOperation(0, "failed", kOutcomeFailedLeaveStick);
  auto boxes = form.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Line 1: the operation failed; please restart the stick by hand (unplug it and plug "
            "it in again).");
  EXPECT_EQ(Requests("dmss", 0x0A), 0u);  // outcome 5 leaves the stick alone

  view.EndLineOperation(0, "stopped", kOutcomeStopped);
  EXPECT_EQ(Requests("dmss", 0x0A), 1u);  // DloadReset, as the link was in download mode
  EXPECT_EQ(form.Boxes().size(), 1u);
}

TEST_F(ViewTest, FailureAfterTheStreamingProtocolResetsWhicheverDownloadModeRuns) {
  const struct {
    sim::StickMode stick;
    const char* mode;
    uint32_t streamResets, bootLoaderResets;
  } kCases[] = {
      {sim::StickMode::StreamingDownload, "streaming", 1, 0},  // the programmer acknowledges
      {sim::StickMode::DmssDownload, "dmss", 1, 1},  // the programmer never started: NAK, then 0x0A
  };
  for (const auto& entry : kCases) {
    SCOPED_TRACE(entry.mode);
    doc.lines[0].link.port.Close();
    stick->SetMode(entry.stick);
    ASSERT_TRUE(doc.lines[0].link.port.Open(stick->Ports()[0].com));
    doc.lines[0].link.mode = LinkMode::Streaming;
    const uint32_t streamResetsBefore = Requests(entry.mode, 0x0B);
    const uint32_t bootLoaderResetsBefore = Requests(entry.mode, 0x0A);

    view.EndLineOperation(0, "failed", kOutcomeFailed);
    EXPECT_EQ(Requests(entry.mode, 0x0B) - streamResetsBefore, entry.streamResets);
    EXPECT_EQ(Requests(entry.mode, 0x0A) - bootLoaderResetsBefore, entry.bootLoaderResets);
    EXPECT_EQ(Requests(entry.mode, 0x29), 0u);  // not the firmware's reset
    EXPECT_TRUE(form.Boxes().empty());
  }
}

TEST_F(ViewTest, PassingOutcomesLeaveTheStickAlone) {
  view.EndLineOperation(0, "备份NV区成功", kOutcomeBackedUp);
  EXPECT_EQ(form.Picture(control::kStatePicture[0]), 150);
  EXPECT_EQ(Requests("firmware", 0x29), 0u);
}

TEST_F(ViewTest, UnwritableLogDirectoryIsSilent) {
  const std::string blocker = root.Path() + "/blocker";
  std::ofstream(blocker) << "x";
  CVarnelView blocked(form, doc, false, LogDirectory(blocker));
  blocked.now = [] { return kStampTime; };
  blocked.EndLineOperation(0, "done", kOutcomeBackedUp);
  EXPECT_FALSE(fs::exists(blocker + "/Logs"));
  EXPECT_TRUE(form.Boxes().empty());
}

}  // namespace
}  // namespace orbek
