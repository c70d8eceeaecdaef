// Framing throughput: building and decoding frames of 1 KiB packets, and the FCS-16 alone.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "link/hdlc_framer.h"

namespace orbek {
namespace {

constexpr size_t kPacketLength = 1024;
// Framed with its check bytes (which may be stuffed) and two flags, it still fits a 1 KiB reply.
constexpr size_t kReplyPacketLength = 1018;

std::vector<uint8_t> RandomPacket(size_t length) {
  std::mt19937 random(12345);
  std::vector<uint8_t> packet(length);
  for (auto& byte : packet)
    byte = static_cast<uint8_t>(random());
  return packet;
}

void BM_Fcs16(benchmark::State& state) {
  auto data = RandomPacket(static_cast<size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(ComputeFcs16(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Fcs16)->Arg(1024)->Arg(64 * 1024);

void BM_BuildFrame(benchmark::State& state) {
  auto packet = RandomPacket(kPacketLength);
  FrameBuffer frame;
  for (auto _ : state) {
    std::memcpy(frame.bytes.data(), packet.data(), packet.size());
    frame.length = static_cast<uint32_t>(packet.size());
    benchmark::DoNotOptimize(BuildFrame(frame, LinkMode::Streaming));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPacketLength));
}
BENCHMARK(BM_BuildFrame);

// Build a frame, then decode it as the reply it would be: the link's whole framing work for
// one 1 KiB packet each way.
void BM_BuildAndDecode(benchmark::State& state) {
  auto packet = RandomPacket(kReplyPacketLength);
  // Keep the frame within one reply: drop the bytes that would be stuffed.
  for (auto& byte : packet) {
    if (byte == kHdlcFlag || byte == kHdlcEscape)
      byte = 0x00;
  }
  FrameBuffer frame;
  ReplyBuffer reply;
  std::string reason;
  uint16_t raw = 0;
  for (auto _ : state) {
    std::memcpy(frame.bytes.data(), packet.data(), packet.size());
    frame.length = static_cast<uint32_t>(packet.size());
    uint32_t length = BuildFrame(frame, LinkMode::Streaming);
    if (length > kMaxReplyLength) {
      state.SkipWithError("frame larger than a reply");
      break;
    }
    std::memcpy(reply.bytes.data(), frame.bytes.data(), length);
    reply.length = static_cast<uint16_t>(length);
    if (!DecodeReply(reply, LinkMode::Streaming, raw, reason)) {
      state.SkipWithError(reason.c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kReplyPacketLength * 2));
}
BENCHMARK(BM_BuildAndDecode);

}  // namespace
}  // namespace orbek

BENCHMARK_MAIN();
