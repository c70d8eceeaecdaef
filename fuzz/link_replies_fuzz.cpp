// Replies from a stick that answers anything: the first input byte picks one operation of the
// DIAG, DMSS download or streaming download protocols, the second how many replies the rest is
// cut into; the scripted peer gives one piece for each request the operation sends. Every
// framing, check value and reply parser of the link sees arbitrary bytes, on a clock that never
// waits.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "at/at_port.h"
#include "diag/diag_commands.h"
#include "diag/maker_commands.h"
#include "download/dmss.h"
#include "download/streaming.h"
#include "tests/support/manual_clock.h"
#include "tests/support/scripted_bus.h"

namespace {

using namespace orbek;

constexpr int kCom = 3;

void RunOperation(uint8_t which, PhoneLink& link) {
  NvItemData data{};
  uint16_t status = 0;
  uint32_t esn = 0;
  VersionRecord versions{};
  std::array<uint8_t, kBuildIdSize> buildId{};
  FlashInfo info{};
  Challenge challenge{};
  FirmwareVersionBlock block{};
  const uint8_t bytes[32] = {0x7E, 0x7D, 1, 2, 3};
  switch (which % 20) {
    case 0:
      ReadEsn(link, esn);
      break;
    case 1:
      ReadNvItem(link, 22, data, status);
      break;
    case 2:
      WriteNvItem(link, 22, data, status);
      break;
    case 3:
      ReadFourVersions(link, versions);
      break;
    case 4:
      ReadBuildId(link, buildId);
      break;
    case 5:
      PollSubsystemStatus(link);
      break;
    case 6:
      DownloadCheck(link, block, kMakerSecurity);
      break;
    case 7:
      GetChallenge(link, challenge);
      break;
    case 8:
      CheckCommunication(link);
      break;
    case 9:
      SwitchToDownloader(link);
      break;
    case 10:
      DloadNop(link);
      break;
    case 11:
      DloadGetParams(link, info);
      break;
    case 12:
      DloadWrite32(link, bytes, 0x00800000, sizeof bytes);
      break;
    case 13:
      DloadGo(link, 0x0080, 0);
      break;
    case 14:
      StreamHello(link);
      break;
    case 15:
      StreamSecurityMode(link);
      break;
    case 16:
      StreamOpenMultiImage(link, 0x0D, bytes, sizeof bytes);
      break;
    case 17:
      StreamWrite(link, bytes, 0, sizeof bytes);
      break;
    case 18:
      StreamClose(link);
      break;
    default:
      StreamPartitionTable(link, bytes, sizeof bytes);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2)
    return 0;
  testing::ManualClock clock;
  testing::ScriptedBus peer(kCom);
  const size_t pieces = 1 + input[1] % 4;
  const size_t rest = size - 2;
  for (size_t piece = 0; piece < pieces; ++piece) {
    const size_t begin = 2 + rest * piece / pieces;
    const size_t end = 2 + rest * (piece + 1) / pieces;
    peer.Answer(testing::Bytes(input + begin, input + end));
  }
  if (input[0] % 21 == 20) {  // the modem port's AT answers
    AtPort at;
    if (!at.port.Open(kCom))
      return 0;
    std::string version;
    at.ReadGmr(version);
    at.QueryDiagPortMode();
    at.SendText("AT+YCDRUN=F");
    return 0;
  }
  PhoneLink link;
  if (!link.port.Open(kCom))
    return 0;
  RunOperation(input[0], link);
  return 0;
}
