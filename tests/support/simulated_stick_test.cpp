#include "tests/support/simulated_stick_test.h"

#include "sim/stick_json.h"

namespace orbek::testing {

void SimulatedStickTest::PlugIn() {
  link.port.Close();
  bus.reset();
  stick = std::make_unique<sim::Stick>(config);
  bus = std::make_unique<sim::InProcessBus>(*stick);
  stick->Start();
  if (!stick->Ports().empty()) {
    ASSERT_TRUE(link.port.Open(stick->Ports()[0].com));
  }
}

void SimulatedStickTest::Wait(uint64_t ms) {
  clock.Advance(ms);
  stick->Pump();
}

void ExpectNoDeviations(const sim::StickState& state) {
  for (const sim::StickState::Deviation& deviation : state.deviations) {
    ADD_FAILURE() << deviation.mode << ": " << deviation.reason << ": "
                  << sim::HexOf(deviation.request.data(), deviation.request.size());
  }
}

::testing::AssertionResult AddFaultTo(sim::Stick& stick, const std::string& spec) {
  sim::FaultRule rule;
  std::string error;
  if (!sim::ParseFault(spec, rule, error))
    return ::testing::AssertionFailure() << error;
  stick.AddFault(rule);
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SimulatedStickTest::AddFault(const std::string& spec) {
  return AddFaultTo(*stick, spec);
}

uint32_t SimulatedStickTest::Requests(const std::string& mode, uint8_t command) const {
  auto perMode = stick->Counts().find(mode);
  if (perMode == stick->Counts().end())
    return 0;
  auto count = perMode->second.find(command);
  return count == perMode->second.end() ? 0 : count->second;
}

}  // namespace orbek::testing
