// A test fixture with the simulated stick in-process, on a manual clock, and the updater's
// PhoneLink open on its diagnostic port.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/phone_link.h"
#include "sim/in_process_bus.h"
#include "sim/stick.h"
#include "tests/support/manual_clock.h"

namespace orbek::testing {

// Fails the test for every request the stick listed as not what the updater must send.
void ExpectNoDeviations(const sim::StickState& state);

// Gives the stick a fault in the simulator's SPEC syntax.
::testing::AssertionResult AddFaultTo(sim::Stick& stick, const std::string& spec);

class SimulatedStickTest : public ::testing::Test {
 protected:
  void SetUp() override { PlugIn(); }

  // Builds the stick from `config`, brings it onto the bus and opens the link on its diagnostic
  // port. Tests that change `config` call it again.
  void PlugIn();
  // Advances the clock and lets the stick's timed events happen.
  void Wait(uint64_t ms);
  ::testing::AssertionResult AddFault(const std::string& spec);
  // Requests the stick has seen in a mode ("firmware", "at-mode", ...) with a command code.
  uint32_t Requests(const std::string& mode, uint8_t command) const;

  sim::StickConfig config = sim::DefaultStickConfig();
  ManualClock clock;
  std::unique_ptr<sim::Stick> stick;
  std::unique_ptr<sim::InProcessBus> bus;
  PhoneLink link;
};

}  // namespace orbek::testing
