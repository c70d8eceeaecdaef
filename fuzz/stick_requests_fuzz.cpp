// The simulated stick given anything: its JSON configuration, or bytes on its diagnostic port in
// each of its modes and on its modem port. A stick that crashes on garbage is a defect too.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/serial_channel.h"
#include "sim/in_process_bus.h"
#include "sim/stick.h"
#include "sim/stick_json.h"
#include "tests/support/manual_clock.h"

namespace {

using namespace orbek;

void Converse(sim::StickMode mode, bool modemPort, const uint8_t* bytes, size_t length) {
  testing::ManualClock clock;
  sim::StickConfig config = sim::DefaultStickConfig();
  config.initialMode = mode;
  sim::Stick stick(config);
  sim::InProcessBus bus(stick);
  stick.Start();
  auto channel = platform::OpenSerialChannel(modemPort ? 6 : 5, {});
  if (!channel)
    return;
  // Two writes, as a request and what follows it.
  const size_t half = length / 2;
  for (const auto& [begin, end] : {std::pair{size_t{0}, half}, std::pair{half, length}}) {
    channel->Write(bytes + begin, end - begin);
    clock.Advance(100);
    stick.Pump();
    uint8_t reply[8192];
    while (size_t queued = channel->BytesQueued())
      channel->Read(reply, std::min(queued, sizeof reply));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1)
    return 0;
  const uint8_t* bytes = input + 1;
  const size_t length = size - 1;
  switch (input[0] % 5) {
    case 0: {
      sim::StickConfig config;
      std::string error;
      const nlohmann::json json = nlohmann::json::parse(bytes, bytes + length, nullptr, false);
      sim::ParseStickConfig(json, config, error);
      break;
    }
    case 1:
      Converse(sim::StickMode::Firmware, false, bytes, length);
      break;
    case 2:
      Converse(sim::StickMode::DmssDownload, false, bytes, length);
      break;
    case 3:
      Converse(sim::StickMode::StreamingDownload, false, bytes, length);
      break;
    default:
      Converse(sim::StickMode::Firmware, true, bytes, length);
      break;
  }
  return 0;
}
