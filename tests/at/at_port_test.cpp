// AtPort against the simulated stick's modem port, and against a scripted peer for the shapes
// of answers a modem port may give.
#include "at/at_port.h"

#include <gtest/gtest.h>

#include "tests/support/manual_clock.h"
#include "tests/support/scripted_bus.h"
#include "tests/support/simulated_stick_test.h"

namespace orbek {
namespace {

using testing::Bytes;

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

class AtPortOnStick : public testing::SimulatedStickTest {
 protected:
  void OpenModem() {
    at.port.Close();
    ASSERT_EQ(stick->Ports().size(), 2u);
    ASSERT_TRUE(at.port.Open(stick->Ports()[1].com));
    at.SetTimeout(1000);
    at.SetAttempts(2);
  }

  AtPort at;
};

TEST_F(AtPortOnStick, CommandsWithAndWithoutEcho) {
  for (bool echo : {true, false}) {
    config.atEcho = echo;
    at.port.Close();
    PlugIn();
    OpenModem();
    std::string version = "unchanged";
    ASSERT_TRUE(at.ReadGmr(version));
    EXPECT_EQ(version, "R415C1_FW_1.2.0.17") << "echo " << echo;
    EXPECT_EQ(at.command, "AT+GMR\r");

    EXPECT_EQ(at.QueryDiagPortMode(), 6);
    EXPECT_TRUE(at.SetDiagPortMode(0));
    EXPECT_EQ(at.QueryDiagPortMode(), 0);
    EXPECT_TRUE(at.SendText("AT+YCDRUN=F"));
    EXPECT_TRUE(at.SendText("AT+YCDRUN=9"));
    EXPECT_EQ(stick->State().cdromModes, (std::vector<std::string>{"F", "9"}));

    std::string line = "unchanged";
    EXPECT_FALSE(at.Command("AT+NOPE", line));
    EXPECT_EQ(line, "ERROR");
  }
}

TEST_F(AtPortOnStick, ResetTakesThePortAway) {
  OpenModem();
  EXPECT_TRUE(at.SendText("AT+YRST"));
  Wait(config.resetLatencyMs);
  std::string version = "unchanged";
  EXPECT_FALSE(at.ReadGmr(version));
  EXPECT_EQ(version, "unchanged");
}

class AtPortAnswers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(at.port.Open(4)); }

  testing::ManualClock clock;
  testing::ScriptedBus modem{4};
  AtPort at;
};

TEST_F(AtPortAnswers, AnswerLineBetweenTheFirstTwoPairs) {
  std::string line;
  modem.Answer(Text("AT+GMR\r\r\nV1.0\r\n\r\nOK\r\n"));
  EXPECT_TRUE(at.Command("AT+GMR", line));
  EXPECT_EQ(line, "V1.0");

  modem.Answer(Text("\r\nOK\r\n"));
  EXPECT_TRUE(at.Command("AT", line));
  EXPECT_EQ(line, "OK");

  modem.Answer(Text("\r\n\r\nOK\r\n"));
  EXPECT_TRUE(at.Command("AT", line));
  EXPECT_EQ(line, "");

  modem.Answer(Text("\r\nErRoR\r\n"));
  EXPECT_FALSE(at.Command("AT+X", line));
  EXPECT_EQ(line, "ErRoR");

  line = "unchanged";
  modem.Answer(Text("\r\nno second pair"));
  EXPECT_FALSE(at.Command("AT+X", line));
  EXPECT_EQ(line, "unchanged");
  modem.Answer(Text("OK"));
  EXPECT_FALSE(at.Command("AT+X", line));
  EXPECT_EQ(line, "unchanged");

  Bytes withZero = Text("\r\nA\r\n");
  withZero.insert(withZero.begin() + 3, 0);
  modem.Answer(withZero);
  EXPECT_FALSE(at.Command("AT+X", line));  // the answer ends at the zero byte
  EXPECT_EQ(at.answer, "\r\nA");
}

TEST_F(AtPortAnswers, VersionOnlyFromAnAnswerThatIsNoError) {
  std::string version = "unchanged";
  modem.Answer(Text("AT+GMR\r\r\nERROR\r\n"));
  EXPECT_FALSE(at.ReadGmr(version));
  EXPECT_EQ(version, "unchanged");
  modem.Answer(Text("AT+GMR\r\r\nV1.0\r\n\r\nOK\r\n"));
  EXPECT_TRUE(at.ReadGmr(version));
  EXPECT_EQ(version, "V1.0");
}

TEST_F(AtPortAnswers, AtMost256BytesAreRead) {
  std::string line;
  modem.Answer(Text("\r\n" + std::string(300, 'x') + "\r\n"));
  EXPECT_FALSE(at.Command("AT+X", line));
  EXPECT_EQ(at.answer.size(), 256u);
}

TEST_F(AtPortAnswers, DiagPortModeFromTheNinthCharacter) {
  modem.Answer(Text("\r\n+YDIAG: 6\r\n\r\nOK\r\n"));
  EXPECT_EQ(at.QueryDiagPortMode(), 6);
  modem.Answer(Text("\r\n+YDIAG:\r\n"));
  EXPECT_EQ(at.QueryDiagPortMode(), 0);
  modem.Answer(Text("\r\n+YDIAG: x\r\n"));
  EXPECT_EQ(at.QueryDiagPortMode(), 0);
  modem.Answer(Text("\r\nERROR\r\n"));
  EXPECT_EQ(at.QueryDiagPortMode(), 0);
}

TEST_F(AtPortAnswers, TimeOutsAndAttempts) {
  std::string line = "unchanged";

  uint64_t start = clock.TickCountMs();
  EXPECT_FALSE(at.Command("AT+GMR", line));
  uint64_t elapsed = clock.TickCountMs() - start;
  EXPECT_EQ(modem.Writes().size(), 3u);
  EXPECT_GT(elapsed, 3 * 5000u);
  EXPECT_LE(elapsed, 3 * 5200u);
  EXPECT_EQ(line, "unchanged");

  EXPECT_TRUE(at.SetTimeout(20000));
  EXPECT_EQ(at.timeoutMs, 5000u);
  EXPECT_TRUE(at.SetTimeout(1000));
  EXPECT_EQ(at.timeoutMs, 1000u);
  EXPECT_FALSE(at.SetAttempts(0));
  EXPECT_FALSE(at.SetAttempts(10));
  EXPECT_EQ(at.attempts, 3);
  EXPECT_TRUE(at.SetAttempts(1));

  modem.Answer(std::nullopt);
  modem.Answer(Text("\r\nOK\r\n"));
  EXPECT_FALSE(at.Command("AT", line));  // one attempt only
  EXPECT_TRUE(at.SetAttempts(2));
  EXPECT_TRUE(at.Command("AT", line));

  // An answer there at once is taken after two looks at the input, 100 ms apart.
  modem.Answer(Text("\r\nOK\r\n"));
  const uint64_t asked = clock.TickCountMs();
  EXPECT_TRUE(at.Command("AT", line));
  EXPECT_EQ(clock.TickCountMs() - asked, 200u);
}

}  // namespace
}  // namespace orbek
