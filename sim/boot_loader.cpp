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
constexpr uint8_t kSoftwareVersionRequest = 0x0C;
constexpr uint8_t kSoftwareVersion = 0x0D;
constexpr uint8_t kPowerDown = 0x0E;
constexpr uint8_t kWrite24 = 0x01;
constexpr uint32_t kRamSize = 4 * 1024 * 1024;
constexpr size_t kMaxWriteData = 1017;
constexpr char kBootLoaderVersion[] = "Boot Downloader 1.0";

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

constexpr uint32_t kErrorInvalidLength = 3;
constexpr uint32_t kErrorIncompatibleFeatures = 17;
constexpr uint32_t kErrorOutOfSpace = 18;
constexpr uint32_t kErrorInvalidSecurityMode = 19;
constexpr uint8_t kPowerOff = 0x11;
constexpr size_t kHelloLength = 36;
constexpr uint8_t kProtocolVersion = 2;
constexpr uint8_t kCompatibleVersion = 2;
constexpr uint8_t kFeatureBits = 3;
constexpr uint8_t kUntrusted = 0;
constexpr uint8_t kTrusted = 1;
constexpr uint8_t kTableAccepted = 0;
constexpr uint8_t kTableDiffers = 1;
constexpr uint8_t kTableNotRecognized = 2;
constexpr uint32_t kStreamBlockSize = 1024;

constexpr uint8_t kFirstBootImage = 2;
constexpr uint8_t kLastBootImage = 5;
constexpr uint8_t kStreamNopPayload = 0x11;

Bytes Write(StickState& state, const Bytes& packet, size_t addressBytes) {
  const size_t header = 1 + addressBytes + 2;
  if (packet.size() < header)
    return DmssNak(kNakTooShort);
  const uint32_t address = addressBytes == 4
                               ? Be32(packet, 1)
                               : static_cast<uint32_t>(packet[1]) << 16 | Be16(packet, 2);
  const uint16_t length = Be16(packet, 1 + addressBytes);
  if (packet.size() - header != length)
    return DmssNak(kNakBadLength);
  if (length > kMaxWriteData)
    return DmssNak(kNakTooLong);
  if (address < kRamBase || address - kRamBase > kRamSize - length)
    return DmssNak(kNakBadAddress);
  const size_t offset = address - kRamBase;
  if (state.ram.size() < offset + length)
    state.ram.resize(offset + length);
  std::copy(packet.begin() + static_cast<ptrdiff_t>(header), packet.end(),
            state.ram.begin() + static_cast<ptrdiff_t>(offset));
  return Bytes{kAck};
}

Bytes Go(Stick& stick, const Bytes& packet) {
  StickState& state = stick.State();
  if (packet.size() != 5) {
    state.NoteDeviation("dmss", packet, "go of another length than 5");
    return DmssNak(kNakBadLength);
  }
  const uint32_t address = Be32(packet, 1);  // segment, offset
  if (address != kRamBase)
    state.NoteDeviation("dmss", packet, "go not to 0x0080:0x0000");
  // The boot loader jumps wherever it is told; only code uploaded there starts.
  if (address < kRamBase || address - kRamBase >= state.ram.size())
    return DmssNak(kNakBadAddress);
  state.programmerImage.assign(state.ram.begin() + (address - kRamBase), state.ram.end());
  stick.SetMode(StickMode::StreamingDownload);  // the programmer answers on the same port
  return Bytes{kAck};
}

Bytes SoftwareVersion() {
  Bytes reply{kSoftwareVersion, static_cast<uint8_t>(sizeof kBootLoaderVersion - 1)};
  reply.insert(reply.end(), kBootLoaderVersion, kBootLoaderVersion + sizeof kBootLoaderVersion - 1);
  return reply;
}

Bytes HelloReply(const StickConfig& config) {
  Bytes reply;
  reply.reserve(80);
  reply.push_back(kHelloReply);
  reply.insert(reply.end(), kTargetMagic, kTargetMagic + sizeof kTargetMagic - 1);
  reply.push_back(kProtocolVersion);
  reply.push_back(kCompatibleVersion);
  AppendLe32(reply, kStreamBlockSize);  // largest block
  AppendLe32(reply, 0);                 // flash base
  const std::string flashId = "NAND " + std::to_string(config.flashMiB) + "MiB";
  reply.push_back(static_cast<uint8_t>(flashId.size()));
  reply.insert(reply.end(), flashId.begin(), flashId.end());
  AppendLe16(reply, 1);  // window size
  // The sector count, then that many sector sizes.
  const uint32_t sectors[] = {0x20000, 0x20000, 0x20000, 0x20000};
  AppendLe16(reply, static_cast<uint16_t>(std::size(sectors)));
  for (uint32_t size : sectors)
    AppendLe32(reply, size);
  reply.push_back(kFeatureBits);
  return reply;
}

// The host's magic, its protocol version, the oldest version it still speaks and the features
// it wants. The programmer talks to a host whose versions overlap its own and whose features it
// has; a hello it refuses leaves the session it is in as it was.
Bytes Hello(const StickConfig& config, StickState& state, const Bytes& packet) {
  if (packet.size() < kHelloLength) {
    state.NoteDeviation("streaming", packet, "hello shorter than 36 bytes");
    return StreamingError(kErrorEndOfPacket);
  }
  if (std::memcmp(packet.data() + 1, kHostMagic, 32) != 0) {
    state.NoteDeviation("streaming", packet, "hello without the host's magic");
    return StreamingError(kErrorInvalidCommand);
  }
  const uint8_t version = packet[33], compatible = packet[34], features = packet[35];
  if (packet.size() != kHelloLength)
    state.NoteDeviation("streaming", packet, "hello longer than 36 bytes");
  if (version != kProtocolVersion || compatible != kCompatibleVersion || features != kFeatureBits) {
    state.NoteDeviation("streaming", packet, "hello not version 2, compatible 2, features 3");
  }
  if (version < kCompatibleVersion || compatible > kProtocolVersion ||
      (features & ~kFeatureBits) != 0) {
    return StreamingError(kErrorIncompatibleFeatures);
  }
  state.openImage.reset();  // a new session: an image left open is dropped
  return HelloReply(config);
}

Bytes SecurityMode(StickState& state, const Bytes& packet) {
  if (packet.size() != 2) {
    state.NoteDeviation("streaming", packet, "security mode of another length than 2");
    return StreamingError(kErrorEndOfPacket);
  }
  if (packet[1] != kTrusted)
    state.NoteDeviation("streaming", packet, "security mode other than 17 01");
  if (packet[1] != kTrusted && packet[1] != kUntrusted)
    return StreamingError(kErrorInvalidSecurityMode);
  return Bytes{static_cast<uint8_t>(kSecurityMode + 1)};
}

// With override, the table is written whatever the flash held; without, it is taken only when
// it equals the stored one, and a table that differs is answered so and written nowhere.
Bytes PartitionTable(StickState& state, const Bytes& packet) {
  if (packet.size() < 2)
    return StreamingError(kErrorEndOfPacket);
  const uint8_t override = packet[1];
  if (override != 1)
    state.NoteDeviation("streaming", packet, "partition table without override 1");
  const Bytes table(packet.begin() + 2, packet.end());
  auto answer = [](uint8_t status) {
    return Bytes{static_cast<uint8_t>(kPartitionTable + 1), status};
  };
  if (table.empty())
    return answer(kTableNotRecognized);
  if (override == 0)
    return answer(table == state.partitionTable ? kTableAccepted : kTableDiffers);
  state.partitionTable = table;
  state.unfinishedImages = BootImageNames();  // a new layout: every boot image again
  return answer(kTableAccepted);
}

Bytes OpenImage(StickState& state, const Bytes& packet) {
  if (packet.size() < 2)
    return StreamingError(kErrorEndOfPacket);
  const uint8_t type = packet[1];
  const bool carriesHeader = type == 4 || type == 5 || type == 10;
  if (!carriesHeader && packet.size() != 2)
    state.NoteDeviation("streaming", packet, "open of an image type without header, with data");
  // An image still open is dropped: the host opens again when it did not see the answer.
  if (type >= kFirstBootImage && type <= kLastBootImage)
    state.unfinishedImages.insert(ImageName(type));
  state.openImage =
      StickState::OpenImage{ImageName(type), Bytes(packet.begin() + 2, packet.end()), {}};
  return Bytes{static_cast<uint8_t>(kOpenMultiImage + 1), 0x00};
}

// Whether a request that takes no payload came without one (else it is listed).
bool NoPayload(StickState& state, const Bytes& packet, const char* reason) {
  if (packet.size() == 1)
    return true;
  state.NoteDeviation("streaming", packet, reason);
  return false;
}

Bytes BlockWritten(uint32_t address) {
  Bytes ack;
  ack.reserve(5);
  ack.push_back(kBlockWritten);
  AppendLe32(ack, address);
  return ack;
}

// Flash pages held by the images but the one the open image replaces when it is closed.
size_t PagesHeld(const StickState& state) {
  size_t pages = state.openImage->data.Pages();
  for (const auto& [name, image] : state.flash)
    pages += name != state.openImage->name ? image.Pages() : 0;
  return pages;
}

Bytes StreamWrite(const StickConfig& config, StickState& state, const Bytes& packet) {
  if (packet.size() < 5)
    return StreamingError(kErrorEndOfPacket);
  const uint32_t address = Le32(packet, 1);
  const size_t length = packet.size() - 5;
  if (length > kStreamBlockSize) {
    state.NoteDeviation("streaming", packet, "stream write of more than 1024 bytes");
    return StreamingError(kErrorInvalidLength);
  }
  // The host's probe block at the last address: acknowledged, stored nowhere.
  if (address == kProbeAddress)
    return BlockWritten(address);
  if (!state.openImage)
    return StreamingError(kErrorOutOfSequence);
  if (address > kMaxImageSize - length)
    return StreamingError(kErrorBadAddress);
  FlashImage& image = state.openImage->data;
  const size_t flashPages = size_t{config.flashMiB} * 1024 * 1024 / FlashImage::kPageSize;
  if (PagesHeld(state) + image.NewPages(address, length) > flashPages)
    return StreamingError(kErrorOutOfSpace);
  image.Write(address, packet.data() + 5, length);
  return BlockWritten(address);
}

// The NV items live in the file system the EFS image replaces; only the write-protected ones
// (the ESN) sit elsewhere and survive.
void LoseNvItems(const StickConfig& config, StickState& state) {
  for (auto item = state.nvItems.begin(); item != state.nvItems.end();) {
    const bool identity = config.esnInNv && (item->first == 0 || item->first == 550);
    item = state.readOnlyNvItems.count(item->first) != 0 && !identity ? std::next(item)
                                                                      : state.nvItems.erase(item);
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
    LoseNvItems(config, state);
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
  const bool takesNoPayload = packet[0] == kNop || packet[0] == kParameterRequest ||
                              packet[0] == kReset || packet[0] == kSoftwareVersionRequest ||
                              packet[0] == kPowerDown;
  if (takesNoPayload && packet.size() != 1) {
    state.NoteDeviation("dmss", packet, "request with payload");
    return DmssNak(kNakBadLength);
  }
  switch (packet[0]) {
    case kNop:
      return Bytes{kAck};
    case kParameterRequest:
      return Bytes{
          kParameters, 0x08, 0x06, 0x00, 0x04, 0x00, 0x00, 0x01, stick.Config().flashSizeCode,
          0x14};
    case kWrite32:
      return Write(state, packet, 4);
    case kWrite24:
      return Write(state, packet, 3);
    case kGo:
      return Go(stick, packet);
    case kSoftwareVersionRequest:
      return SoftwareVersion();
    case kReset:
      stick.Reenumerate(StickMode::Firmware);
      return Bytes{kAck};
    case kPowerDown:
      stick.Reenumerate(StickMode::Firmware, std::nullopt, /*forever=*/true);
      return Bytes{kAck};
    default:
      return DmssNak(kNakUnknownCommand);
  }
}

std::optional<Bytes> FlashProgrammer::Handle(Stick& stick, const Bytes& packet) {
  StickState& state = stick.State();
  switch (packet[0]) {
    case kHello:
      return Hello(stick.Config(), state, packet);
    case kSecurityMode:
      return SecurityMode(state, packet);
    case kPartitionTable:
      return PartitionTable(state, packet);
    case kOpenMultiImage:
      return OpenImage(state, packet);
    case kStreamWrite:
      return StreamWrite(stick.Config(), state, packet);
    case kClose:
      if (!NoPayload(state, packet, "close with payload"))
        return StreamingError(kErrorEndOfPacket);
      return CloseImage(stick.Config(), state);
    case kStreamNop: {
      // The no-op's identifier (four bytes in the protocol, one byte from the updater) comes
      // back as it was sent.
      if (packet.size() != 2 || packet[1] != kStreamNopPayload)
        state.NoteDeviation("streaming", packet, "no-op other than 09 11");
      Bytes reply = packet;
      reply[0] = static_cast<uint8_t>(kStreamNop + 1);
      return reply;
    }
    case kStreamReset:
      if (!NoPayload(state, packet, "reset with payload"))
        return StreamingError(kErrorEndOfPacket);
      if (state.flash.count("amss") != 0) {
        const std::string version = FlashedFirmwareVersion(state.flash.at("amss").Whole());
        if (!version.empty())
          state.versions[0] = version;
      }
      stick.Reenumerate(StickMode::Firmware);
      return Bytes{static_cast<uint8_t>(kStreamReset + 1)};
    case kPowerOff:
      if (!NoPayload(state, packet, "power off with payload"))
        return StreamingError(kErrorEndOfPacket);
      stick.Reenumerate(StickMode::Firmware, std::nullopt, /*forever=*/true);
      return Bytes{static_cast<uint8_t>(kPowerOff + 1)};
    default:
      return StreamingError(kErrorInvalidCommand);
  }
}

}  // namespace orbek::sim
