#include "sim/firmware_diag.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "sim/maker_subsystem.h"

namespace orbek::sim {
namespace {

constexpr uint8_t kBadCommand = 0x13;
constexpr uint8_t kBadParameters = 0x14;
constexpr uint8_t kBadLength = 0x15;

constexpr uint8_t kEsn = 0x01;
constexpr uint8_t kModeChange = 0x29;
constexpr uint8_t kNvRead = 0x26;
constexpr uint8_t kNvWrite = 0x27;
constexpr uint8_t kExtendedBuildId = 0x7C;
constexpr uint8_t kVersionTable = 0x39;
constexpr uint8_t kDownloader = 0x3A;
constexpr uint8_t kSpc = 0x41;
constexpr uint8_t kSubsystem = 0x4B;
constexpr uint8_t kCommand5C = 0x5C;
constexpr size_t kSpcLength = 1 + 6;

constexpr size_t kNvPacketLength = 1 + 2 + kNvItemSize + 2;
constexpr size_t kNvItemOnlyLength = 1 + 2;
const Bytes kCommand5CRequest = {0x5C, 0x01, 0x00, 0xC2, 0x01, 0x00};
constexpr uint16_t kNvDone = 0;
constexpr uint16_t kNvNotActive = 5;
constexpr uint16_t kNvReadOnly = 7;

constexpr uint32_t kMsmHardwareVersion = 0x000090E1;
constexpr uint32_t kMobileModel = 0x00000415;

void PutText(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

Bytes NvReply(uint8_t code, uint16_t item, const uint8_t* data, uint16_t status) {
  Bytes reply;
  reply.reserve(kNvPacketLength);
  reply.push_back(code);
  AppendLe16(reply, item);
  reply.insert(reply.end(), data, data + kNvItemSize);
  AppendLe16(reply, status);
  return reply;
}

// The ESN a stick that keeps it in NV item 0 answers: the item's first four bytes, 0 while the
// item is inactive or gone.
uint32_t EsnInNv(const StickState& state) {
  auto item = state.nvItems.find(0);
  if (item == state.nvItems.end() || state.inactiveNvItems.count(0) != 0)
    return 0;
  return static_cast<uint32_t>(item->second[0]) | static_cast<uint32_t>(item->second[1]) << 8 |
         static_cast<uint32_t>(item->second[2]) << 16 |
         static_cast<uint32_t>(item->second[3]) << 24;
}

Bytes NvRead(StickState& state, const Bytes& request) {
  const uint16_t item = Le16(request, 1);
  static const NvData kZero{};
  auto stored = state.nvItems.find(item);
  if (state.inactiveNvItems.count(item) != 0 || stored == state.nvItems.end()) {
    return NvReply(kNvRead, item, kZero.data(), kNvNotActive);
  }
  return NvReply(kNvRead, item, stored->second.data(), kNvDone);
}

Bytes NvWrite(StickState& state, const Bytes& request) {
  const uint16_t item = Le16(request, 1);
  const uint8_t* data = request.data() + 3;
  uint16_t status = kNvDone;
  if (state.inactiveNvItems.count(item) != 0) {
    status = kNvNotActive;
  } else if (state.readOnlyNvItems.count(item) != 0) {
    status = kNvReadOnly;
  } else {
    std::copy_n(data, kNvItemSize, state.nvItems[item].begin());
  }
  return NvReply(kNvWrite, item, data, status);
}

// The firmware's operating modes: 0 offline analog, 1 offline digital, 2 reset, 3 factory test,
// 4 online, 5 low power, 6 power off. The updater asks for 1, 2 and 4 only.
std::optional<Bytes> ChangeMode(Stick& stick, const Bytes& request) {
  if (request.size() != 3)
    return RefuseMalformed(stick.State(), request, kBadLength,
                           "mode change of another length than 3");
  const uint16_t mode = Le16(request, 1);
  StickState& state = stick.State();
  if (mode != 1 && mode != 2 && mode != 4)
    state.NoteDeviation("firmware", request, "mode change to another mode than 1, 2, 4");
  switch (mode) {
    case 0:
    case 1:
    case 3:
    case 5:
      state.offline = true;
      break;
    case 2:
      stick.Reenumerate(StickMode::Firmware);
      break;
    case 4:
      break;
    case 6:
      stick.Reenumerate(StickMode::Firmware, std::nullopt, /*forever=*/true);
      break;
    default:
      return DiagRefusal(kBadParameters, request);
  }
  state.lastModeChange = mode;
  return request;  // the mode is echoed
}

}  // namespace

Bytes RefuseMalformed(StickState& state, const Bytes& request, uint8_t code, const char* reason) {
  state.NoteDeviation("firmware", request, reason);
  return DiagRefusal(code, request);
}

Bytes DiagRefusal(uint8_t code, const Bytes& request) {
  Bytes reply(request.size() + 1);
  reply[0] = code;
  std::copy(request.begin(), request.end(), reply.begin() + 1);
  return reply;
}

std::optional<Bytes> FirmwareDiag::Handle(Stick& stick, const Bytes& packet) {
  StickState& state = stick.State();
  switch (packet[0]) {
    case kEsn: {
      if (packet.size() != 1)
        return RefuseMalformed(state, packet, kBadLength, "ESN request with payload");
      Bytes reply{kEsn};
      AppendLe32(reply, stick.Config().esnInNv ? EsnInNv(state) : state.esn);
      return reply;
    }
    case kExtendedBuildId: {
      if (packet.size() != 1)
        return RefuseMalformed(state, packet, kBadLength, "build id request with payload");
      Bytes reply{kExtendedBuildId, 0, 0, 0};
      AppendLe32(reply, kMsmHardwareVersion);
      AppendLe32(reply, kMobileModel);
      PutText(reply, state.buildId);
      PutText(reply, state.modelName);
      return reply;
    }
    case kModeChange:
      return ChangeMode(stick, packet);
    case kVersionTable:
      if (packet.size() != 1)
        return RefuseMalformed(state, packet, kBadLength, "version table request with payload");
      ++state.versionTableRequests;
      return VersionTableReply(stick.Config(), state);
    case kDownloader:
      if (packet.size() != 1)
        return RefuseMalformed(state, packet, kBadLength, "downloader request with payload");
      stick.Reenumerate(StickMode::DmssDownload);
      return packet;
    case kSpc:
      if (packet.size() != kSpcLength)
        return RefuseMalformed(state, packet, kBadLength, "SPC of another length than six digits");
      state.spcReceived.emplace_back(packet.begin() + 1, packet.end());
      return Bytes{kSpc, 0x01};
    case kCommand5C:
      if (packet != kCommand5CRequest)
        state.NoteDeviation("firmware", packet, "0x5C request not 5C 01 00 C2 01 00");
      return packet;
    case kSubsystem:
      return HandleSubsystemRequest(stick, packet);
    case kNvRead:
    case kNvWrite: {
      // Older host tools send an NV read of the item number alone; the firmware answers it as
      // a whole one.
      if (packet[0] == kNvRead && packet.size() == kNvItemOnlyLength) {
        Bytes whole(kNvPacketLength, 0);
        std::copy(packet.begin(), packet.end(), whole.begin());
        return Handle(stick, whole);
      }
      if (packet.size() != kNvPacketLength)
        return RefuseMalformed(state, packet, kBadLength,
                               "NV item request of another length than 133");
      if (std::optional<uint16_t> refusal = stick.RefuseNvItem(Le16(packet, 1))) {
        static const NvData kZero{};
        const uint8_t* data = packet[0] == kNvRead ? kZero.data() : packet.data() + 3;
        return NvReply(packet[0], Le16(packet, 1), data, *refusal);
      }
      return packet[0] == kNvRead ? NvRead(state, packet) : NvWrite(state, packet);
    }
    default:
      return DiagRefusal(kBadCommand, packet);
  }
}

}  // namespace orbek::sim
