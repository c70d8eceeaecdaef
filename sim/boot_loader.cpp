#include "sim/boot_loader.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/byte_order.h"

namespace orbek::sim {
namespace {

// DMSS download
constexpr uint8_t kAck = 0x02;
constexpr uint8_t kGo = 0x05;
constexpr uint8_t kNop = 0x06;
constexpr uint8_t kParameterRequest = 0x07;
constexpr uint8_t kParameters = 0x08;
constexpr uint8_t kReset = 0x0A;
constexpr uint8_t kWrite32 = 0x0F;
constexpr uint16_t kNakBadAddress = 2;
constexpr uint16_t kNakBadLength = 3;
constexpr uint16_t kNakTooShort = 4;
constexpr uint16_t kNakTooLong = 5;
constexpr uint16_t kNakUnknownCommand = 6;
constexpr uint32_t kRamBase = 0x00800000;
constexpr uint32_t kRamSize = 4 * 1024 * 1024;
constexpr size_t kMaxWrite32Data = 1017;

// Streaming download
constexpr uint8_t kHello = 0x01;
constexpr uint8_t kHelloReply = 0x02;
constexpr uint8_t kStreamWrite = 0x07;
constexpr uint8_t kBlockWritten = 0x08;
constexpr uint8_t kStreamNop = 0x09;
constexpr uint8_t kStreamReset = 0x0B;
constexpr uint8_t kError = 0x0D;
constexpr uint8_t kClose = 0x15;
constexpr uint32_t kProbeAddress = 0xFFFFFFFF;
constexpr uint8_t kSecurityMode = 0x17;
constexpr uint8_t kPartitionTable = 0x19;
constexpr uint8_t kOpenMultiImage = 0x1B;
constexpr uint32_t kErrorBadAddress = 2;
constexpr uint32_t kErrorEndOfPacket = 4;
constexpr uint32_t kErrorInvalidCommand = 5;
constexpr uint32_t kErrorOutOfSequence = 15;
constexpr uint32_t kErrorCloseFailed = 16;
constexpr uint32_t kMaxImageSize = 64 * 1024 * 1024;
constexpr char kHostMagic[] = "QCOM fast download protocol host";
constexpr char kTargetMagic[] = "QCOM fast download protocol targ";

constexpr uint32_t kErrorIncompatibleFeatures = 17;
constexpr uint8_t kFirstBootImage = 2;
constexpr uint8_t kLastBootImage = 5;
constexpr uint8_t kStreamNopPayload = 0x11;

// A known command whose fixed bytes are wrong: listed, and refused with `reply`.
Bytes BadRequest(StickState& state, const char* mode, const Bytes& request, const char* why,
                 Bytes reply) {
  state.badRequests.push_back({mode, request, why});
  return reply;
}

Bytes Write32(StickState& state, const Bytes& packet) {
  if (packet.size() < 7)
    return DmssNak(kNakTooShort);
  const uint32_t address = Be32(packet, 1);
  const uint16_t length = Be16(packet, 5);
  if (packet.size() - 7 != length)
    return DmssNak(kNakBadLength);
  if (length > kMaxWrite32Data)
    return DmssNak(kNakTooLong);
  if (address < kRamBase || address - kRamBase > kRamSize - length)
    return DmssNak(kNakBadAddress);
  const size_t offset = address - kRamBase;
  if (state.ram.size() < offset + length)
    state.ram.resize(offset + length);
  std::copy(packet.begin() + 7, packet.end(), state.ram.begin() + static_cast<ptrdiff_t>(offset));
  return Bytes{kAck};
}

Bytes HelloReply() {
  Bytes reply;
  reply.reserve(80);
  reply.push_back(kHelloReply);
  reply.insert(reply.end(), kTargetMagic, kTargetMagic + sizeof kTargetMagic - 1);
  reply.push_back(2);       // version
  reply.push_back(2);       // compatible version
  AppendLe32(reply, 1024);  // largest block
  AppendLe32(reply, 0);     // flash base
  const std::string flashId = "NAND 128MiB";
  reply.push_back(static_cast<uint8_t>(flashId.size()));
  reply.insert(reply.end(), flashId.begin(), flashId.end());
  AppendLe16(reply, 1);  // window size
  // The sector count, then that many sector sizes.
  const uint32_t sectors[] = {0x20000, 0x20000, 0x20000, 0x20000};
  AppendLe16(reply, static_cast<uint16_t>(std::size(sectors)));
  for (uint32_t size : sectors)
    AppendLe32(reply, size);
  reply.push_back(3);  // feature bits
  return reply;
}

Bytes OpenImage(StickState& state, const Bytes& packet) {
  if (packet.size() < 2)
    return StreamingError(kErrorEndOfPacket);
  const uint8_t type = packet[1];
  const bool carriesHeader = type == 4 || type == 5 || type == 10;
  if (!carriesHeader && packet.size() != 2) {
    return BadRequest(state, "streaming", packet, "open of an image type without header, with data",
                      StreamingError(kErrorEndOfPacket));
  }
  // An image still open is dropped: the host opens again when it did not see the answer.
  if (type >= kFirstBootImage && type <= kLastBootImage)
    state.unfinishedImages.insert(ImageName(type));
  state.openImage =
      StickState::OpenImage{ImageName(packet[1]), Bytes(packet.begin() + 2, packet.end()), {}};
  return Bytes{static_cast<uint8_t>(kOpenMultiImage + 1), 0x00};
}

Bytes BlockWritten(uint32_t address) {
  Bytes ack;
  ack.reserve(5);
  ack.push_back(kBlockWritten);
  AppendLe32(ack, address);
  return ack;
}

Bytes StreamWrite(StickState& state, const Bytes& packet) {
  if (packet.size() < 5)
    return StreamingError(kErrorEndOfPacket);
  const uint32_t address = Le32(packet, 1);
  // The host's probe block at the last address: acknowledged, stored nowhere.
  if (address == kProbeAddress)
    return BlockWritten(address);
  if (!state.openImage)
    return StreamingError(kErrorOutOfSequence);
  const size_t length = packet.size() - 5;
  if (address > kMaxImageSize - length)
    return StreamingError(kErrorBadAddress);
  Bytes& data = state.openImage->data;
  if (data.size() < address + length)
    data.resize(address + length);
  std::copy(packet.begin() + 5, packet.end(), data.begin() + address);
  return BlockWritten(address);
}

// The NV items live in the file system the EFS image replaces; only the write-protected ones
// (the ESN) sit elsewhere and survive.
void LoseNvItems(StickState& state) {
  for (auto item = state.nvItems.begin(); item != state.nvItems.end();) {
    item =
        state.readOnlyNvItems.count(item->first) != 0 ? std::next(item) : state.nvItems.erase(item);
  }
}

// The firmware version the flashed modem image carries in its version record (2C 1A BE 6E at a
// 4-byte-aligned offset, the text from byte 8), or empty.
std::string FlashedFirmwareVersion(const Bytes& amss) {
  const uint8_t marker[4] = {0x2C, 0x1A, 0xBE, 0x6E};
  for (size_t offset = 0; offset + 128 <= amss.size(); offset += 4) {
    if (std::equal(marker, marker + 4, amss.begin() + static_cast<ptrdiff_t>(offset))) {
      const char* text = reinterpret_cast<const char*>(amss.data() + offset + 8);
      return std::string(text, std::find(text, text + 120, '\0'));
    }
  }
  return "";
}

Bytes CloseImage(const StickConfig& config, StickState& state) {
  if (!state.openImage)
    return StreamingError(kErrorCloseFailed);
  if (state.openImage->name == "efs" && config.efsWipesNv)
    LoseNvItems(state);
  state.openImage->data.shrink_to_fit();  // the image as written, not the buffer it grew in
  state.unfinishedImages.erase(state.openImage->name);
  state.flash[state.openImage->name] = std::move(state.openImage->data);
  state.imageHeaders[state.openImage->name] = std::move(state.openImage->header);
  state.openImage.reset();
  return Bytes{static_cast<uint8_t>(kClose + 1)};
}

}  // namespace

std::string ImageName(uint8_t type) {
  switch (type) {
    case 2:
      return "qcsblhd";
    case 3:
      return "qcsbl";
    case 4:
      return "oemsbl";
    case 5:
      return "amss";
    case 9:
      return "efs";
    case 10:
      return "nandprg";
    default:
      return "type" + std::to_string(type);
  }
}

std::set<std::string> BootImageNames() {
  std::set<std::string> names;
  for (uint8_t type = kFirstBootImage; type <= kLastBootImage; ++type)
    names.insert(ImageName(type));
  return names;
}

Bytes DmssNak(uint16_t code) {
  Bytes nak{0x03};
  AppendBe16(nak, code);
  return nak;
}

Bytes StreamingError(uint32_t code) {
  Bytes reply;
  reply.reserve(5);
  reply.push_back(kError);
  AppendLe32(reply, code);
  return reply;
}

std::optional<Bytes> DmssBootLoader::Handle(Stick& stick, const Bytes& packet) {
  StickState& state = stick.State();
  if ((packet[0] == kNop || packet[0] == kParameterRequest || packet[0] == kReset) &&
      packet.size() != 1) {
    return BadRequest(state, "dmss", packet, "request with payload", DmssNak(kNakBadLength));
  }
  switch (packet[0]) {
    case kNop:
      return Bytes{kAck};
    case kParameterRequest:
      return Bytes{
          kParameters, 0x08, 0x06, 0x00, 0x04, 0x00, 0x00, 0x01, stick.Config().flashSizeCode,
          0x14};
    case kWrite32:
      return Write32(state, packet);
    case kGo: {
      if (packet.size() != 5)
        return BadRequest(state, "dmss", packet, "go of another length than 5",
                          DmssNak(kNakBadLength));
      const uint32_t address = Be32(packet, 1);  // segment 0x0080, offset 0x0000
      if (address != kRamBase)
        return BadRequest(state, "dmss", packet, "go not to 0x0080:0x0000",
                          DmssNak(kNakBadAddress));
      if (state.ram.empty())
        return DmssNak(kNakBadAddress);
      state.programmerImage = state.ram;
      stick.SetMode(StickMode::StreamingDownload);  // the programmer answers on the same port
      return Bytes{kAck};
    }
    case kReset:
      stick.Reenumerate(StickMode::Firmware);
      return Bytes{kAck};
    default:
      return DmssNak(kNakUnknownCommand);
  }
}

std::optional<Bytes> FlashProgrammer::Handle(Stick& stick, const Bytes& packet) {
  StickState& state = stick.State();
  switch (packet[0]) {
    case kHello:
      if (packet.size() != 36 || std::memcmp(packet.data() + 1, kHostMagic, 32) != 0) {
        return BadRequest(state, "streaming", packet, "hello without the host's magic",
                          StreamingError(kErrorInvalidCommand));
      }
      if (packet[33] != 2 || packet[34] != 2 || packet[35] != 3) {
        return BadRequest(state, "streaming", packet,
                          "hello not version 2, compatible 2, features 3",
                          StreamingError(kErrorIncompatibleFeatures));
      }
      return HelloReply();
    case kSecurityMode:
      if (packet.size() != 2 || packet[1] != 1) {
        return BadRequest(state, "streaming", packet, "security mode other than 17 01",
                          StreamingError(kErrorEndOfPacket));
      }
      return Bytes{static_cast<uint8_t>(kSecurityMode + 1)};
    case kPartitionTable:
      if (packet.size() < 2)
        return StreamingError(kErrorEndOfPacket);
      if (packet[1] != 1) {
        return BadRequest(state, "streaming", packet, "partition table without override 1",
                          StreamingError(kErrorInvalidCommand));
      }
      state.partitionTable.assign(packet.begin() + 2, packet.end());
      state.unfinishedImages = BootImageNames();  // a new layout: every boot image again
      return Bytes{static_cast<uint8_t>(kPartitionTable + 1), 0x00};
    case kOpenMultiImage:
      return OpenImage(state, packet);
    case kStreamWrite:
      return StreamWrite(state, packet);
    case kClose:
      if (packet.size() != 1) {
        return BadRequest(state, "streaming", packet, "close with payload",
                          StreamingError(kErrorEndOfPacket));
      }
      return CloseImage(stick.Config(), state);
    case kStreamNop: {
      if (packet.size() != 2 || packet[1] != kStreamNopPayload) {
        return BadRequest(state, "streaming", packet, "no-op other than 09 11",
                          StreamingError(kErrorEndOfPacket));
      }
      Bytes reply = packet;
      reply[0] = static_cast<uint8_t>(kStreamNop + 1);
      return reply;
    }
    case kStreamReset:
      if (packet.size() != 1) {
        return BadRequest(state, "streaming", packet, "reset with payload",
                          StreamingError(kErrorEndOfPacket));
      }
      if (state.flash.count("amss") != 0) {
        const std::string version = FlashedFirmwareVersion(state.flash.at("amss"));
        if (!version.empty())
          state.versions[0] = version;
      }
      stick.Reenumerate(StickMode::Firmware);
      return Bytes{static_cast<uint8_t>(kStreamReset + 1)};
    default:
      return StreamingError(kErrorInvalidCommand);
  }
}

}  // namespace orbek::sim
