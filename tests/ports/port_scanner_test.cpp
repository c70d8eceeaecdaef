// Port discovery over registry exports.
#include "ports/port_scanner.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>

#include "platform/clock.h"
#include "platform/regedit_text.h"
#include "tests/support/manual_clock.h"
#include "tests/support/registry_root.h"

namespace orbek {
namespace {

struct PortNumbers {
  int32_t diagPort = 0;
  int32_t dataPort = 0;
};

// A driver service serving one instance per port name, with the instances' port names.
std::string Service(const std::string& service, const std::vector<std::string>& portNames) {
  std::ostringstream text, devices;
  text << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" << service << "\\Enum]\n"
       << "\"Count\"=dword:0000000" << portNames.size() << "\n";
  for (size_t i = 0; i < portNames.size(); ++i) {
    const std::string instance = "USB\\VID_1234&PID_5678\\" + service + std::to_string(i);
    text << "\"" << i << "\"=" << platform::RegeditQuote(instance) << "\n";
    devices << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" << instance
            << "\\Device Parameters]\n\"PortName\"=\"" << portNames[i] << "\"\n\n";
  }
  return text.str() + "\n" + devices.str();
}

std::string Registry(const std::string& body) {
  return "Windows Registry Editor Version 5.00\n\n" + body;
}

// A search whose findings go into `ports` by the discovery's rules.
bool FindInto(PortScanner& scanner, PortNumbers& ports) {
  const FoundPorts found = scanner.FindPorts();
  found.ApplyTo(ports.diagPort, ports.dataPort);
  return found.found;
}

class PortScan : public ::testing::Test {
 protected:
  bool Find() { return FindInto(scanner, line); }

  testing::ManualClock clock;
  testing::RegistryRoot root;
  PortNumbers line{1, 9};
  PortScanner scanner;
};

TEST_F(PortScan, NothingFound) {
  EXPECT_FALSE(Find());
  EXPECT_EQ(line.diagPort, 0);
  EXPECT_EQ(line.dataPort, 9);  // kept
}

TEST_F(PortScan, PortNamesGiveTheirNumbers) {
  root.Write(Registry(Service("qcusbser6k", {"COM3"}) + Service("qcusbmdm6k", {"COM12"})));
  EXPECT_TRUE(Find());
  EXPECT_EQ(line.diagPort, 3);
  EXPECT_EQ(line.dataPort, 12);

  root.Write(Registry(Service("qcusbmdm6k", {"COM14"})));  // a modem port alone is found too
  EXPECT_TRUE(Find());
  EXPECT_EQ(line.diagPort, 0);
  EXPECT_EQ(line.dataPort, 14);

  root.Write(Registry(Service("qcusbser6k", {"COMX"})));
  EXPECT_TRUE(Find());
  EXPECT_EQ(line.diagPort, 0);  // not a number
}

// A service listing the given instances (their ids written out) with their port names.
std::string ServiceOf(const std::string& service,
                      const std::vector<std::pair<std::string, std::string>>& instances) {
  std::ostringstream text, devices;
  text << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" << service << "\\Enum]\n"
       << "\"Count\"=dword:0000000" << instances.size() << "\n";
  for (size_t i = 0; i < instances.size(); ++i) {
    text << "\"" << i << "\"=" << platform::RegeditQuote(instances[i].first) << "\n";
    devices << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" << instances[i].first
            << "\\Device Parameters]\n\"PortName\"=\"" << instances[i].second << "\"\n\n";
  }
  return text.str() + "\n" + devices.str();
}

// Several sticks, with the instance ids of both systems: each is found by its USB location, in
// the order they were enumerated, with its own ports.
TEST_F(PortScan, EachStickByItsLocation) {
  root.Write(
      Registry(ServiceOf("qcusbser6k", {{"USB\\VID_1234&PID_5678&MI_00\\1-2:1.0", "COM29"},
                                        {"USB\\VID_1234&PID_5678&MI_00\\7&1a2b3c4d&0&0000", "COM5"},
                                        {"USB\\VID_1234&PID_5678&MI_00\\1-1.4:1.0", "COM53"}}) +
               ServiceOf("qcusbmdm6k", {{"USB\\VID_1234&PID_5678&MI_01\\7&1a2b3c4d&0&0001", "COM6"},
                                        {"USB\\VID_1234&PID_5678&MI_01\\1-2:1.1", "COM30"},
                                        {"USB\\VID_1234&PID_5678&MI_01\\1-9:1.1", "COM70"}})));
  EXPECT_EQ(scanner.StickLocations(),
            (std::vector<std::string>{"1-2", "7&1a2b3c4d&0", "1-1.4", "1-9"}));
  const struct {
    const char* location;
    int32_t diagPort;
    std::optional<int32_t> dataPort;
  } kSticks[] = {
      {"1-2", 29, 30}, {"7&1a2b3c4d&0", 5, 6}, {"1-1.4", 53, std::nullopt}, {"1-9", 0, 70}};
  for (const auto& stick : kSticks) {
    const FoundPorts found = scanner.ScanLocation(stick.location);
    EXPECT_TRUE(found.found) << stick.location;
    EXPECT_EQ(found.diagPort, stick.diagPort) << stick.location;
    EXPECT_EQ(found.dataPort, stick.dataPort) << stick.location;
  }
  EXPECT_FALSE(scanner.ScanLocation("1-3").found);
  EXPECT_EQ(scanner.ScanOnce().diagPort, 53);  // one stick's search: the last enumerated wins
}

TEST(PortNames, OnlyDigitsMakeAPortNumber) {
  const std::pair<const char*, int32_t> kNames[] = {
      {"COM3", 3},  {"COM12", 12},         {"COM007", 7}, {"COM255", 255},
      {"COM", 0},   {"COMX", 0},           {"COM 7", 0},  {"COM3\\..\\x", 0},
      {"COM-4", 0}, {"COM99999999999", 0}, {"COM4x", 0},  {"COM123456789", 123456789},
  };
  for (const auto& [name, number] : kNames)
    EXPECT_EQ(PortNumberOf(name), number) << name;
}

TEST_F(PortScan, ServicesInTheirOrder) {
  root.Write(Registry(Service("HSPADataCardusbser", {"COM20"}) + Service("qcusbser6k", {})));
  EXPECT_TRUE(Find());
  EXPECT_EQ(line.diagPort, 20);  // the fifth, as nothing before it yields an instance

  root.Write(Registry(Service("HSPADataCardusbser", {"COM20"}) + Service("qcusbser6k", {"COM5"})));
  EXPECT_TRUE(Find());
  EXPECT_EQ(line.diagPort, 5);

  root.Write(Registry(Service("Keldausbser6k", {"COM7"}) + Service("Tavrousbser6k", {"COM8"})));
  EXPECT_TRUE(Find());
  EXPECT_EQ(line.diagPort, 8);

  // Every service wins over each one after it, for both ports.
  const std::vector<std::string> modem = {"Tavrousbnmea", "Keldausbmdm6k", "qcusbmdm6k",
                                          "HSPADataCardusbmdm6k"};
  const std::vector<std::string> diag = {"Tavrousbser6k", "Keldausbser6k", "qcusbser6k",
                                         "HSPADataCardusbser6k", "HSPADataCardusbser"};
  for (const auto* services : {&modem, &diag}) {
    for (size_t first = 0; first < services->size(); ++first) {
      for (size_t later = first + 1; later < services->size(); ++later) {
        SCOPED_TRACE((*services)[first] + " before " + (*services)[later]);
        root.Write(Registry(Service((*services)[later], {"COM" + std::to_string(40 + later)}) +
                            Service((*services)[first], {"COM" + std::to_string(20 + first)})));
        line = {1, 9};
        EXPECT_TRUE(Find());
        EXPECT_EQ(services == &modem ? line.dataPort : line.diagPort,
                  static_cast<int32_t>(20 + first));
      }
    }
  }
}

TEST_F(PortScan, LastInstanceCounts) {
  root.Write(Registry(Service("qcusbser6k", {"COM4", "COM6"})));
  EXPECT_TRUE(Find());
  EXPECT_EQ(line.diagPort, 6);
}

// A clock whose sleeps can make something happen meanwhile.
class EventfulClock final : public platform::Clock {
 public:
  EventfulClock() : previous_(platform::InstallClock(this)) {}
  ~EventfulClock() override { platform::InstallClock(previous_); }
  uint64_t TickCountMs() override { return now_; }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    if (onSleep)
      onSleep(now_);
  }
  std::function<void(uint64_t)> onSleep;

 private:
  uint64_t now_ = 0;
  platform::Clock* previous_;
};

TEST(PortScanWait, NothingFoundWaitsForTheRegistryToChange) {
  EventfulClock clock;
  testing::RegistryRoot root;
  PortNumbers line;
  PortScanner scanner;
  const auto Find = [&] { return FindInto(scanner, line); };

  EXPECT_FALSE(Find());
  EXPECT_EQ(clock.TickCountMs(), PortScanner::kIdleWaitMs);

  // The stick appears 100 ms into the wait: the wait ends and the next scan finds it.
  uint64_t appearAt = clock.TickCountMs() + 100;
  clock.onSleep = [&](uint64_t now) {
    if (now >= appearAt) {
      root.Write(Registry(Service("qcusbser6k", {"COM7"})));
      clock.onSleep = nullptr;
    }
  };
  uint64_t start = clock.TickCountMs();
  EXPECT_FALSE(Find());
  EXPECT_EQ(clock.TickCountMs() - start, 100u);
  EXPECT_TRUE(Find());
  EXPECT_EQ(line.diagPort, 7);
}

}  // namespace
}  // namespace orbek
