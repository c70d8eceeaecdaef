// How the simulated stick's ports are published for programs that look for them the way the
// platform layer does: a regedit export of the driver services' entries at ROOT/registry.reg,
// replaced atomically on every change, and (with the pty transport) ROOT/dosdevices/comN links.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sim/stick.h"

namespace orbek::sim {

struct RegistryNames {
  std::string diagService = "qcusbser6k";
  std::string modemService = "qcusbmdm6k";
};

// With several sticks each one's instances are listed under the same services, in the order of
// the sticks, each stick's device instances with a parent of its own.
class RegistryPublisher final : public PortListener {
 public:
  RegistryPublisher(std::string root, RegistryNames names);
  ~RegistryPublisher() override;
  // The ports of stick 0 (the only one, mostly).
  void PortsChanged(const std::vector<PublishedPort>& ports) override;
  // The listener of stick `index`'s ports.
  PortListener& StickListener(int index);
  // Removes the sticks' entries, keeping every other key of the file.
  void Withdraw();
  // Called with the file's whole text after every write (to keep another registry in step).
  std::function<void(const std::string& regeditText)> onWritten;

 private:
  class StickEntries;
  void Publish(int index, const std::vector<PublishedPort>& ports);
  void Write(bool withdraw);  // with mutex_ held

  std::string root_;
  RegistryNames names_;
  std::mutex mutex_;
  std::map<int, std::vector<PublishedPort>> ports_;  // per stick
  std::map<int, std::unique_ptr<StickEntries>> listeners_;
};

// The stick as Linux shows a real one: ROOT/sys/bus/usb/devices/<its location> (idVendor,
// idProduct, devnum, busnum) with an interface directory per port (bInterfaceNumber, a ttyUSB<k>
// child), and ROOT/dev/ttyUSB<k> linked to the port's pty. A re-enumeration removes the device and
// makes it anew with the next device number; the download-mode stick has a product id of its own
// and only its diagnostic interface. Each tty takes the lowest free number, as the kernel gives.
// It removes only what it made: a tty node already there keeps its number taken. Several
// sticks publish into one root, each under its own location, their ttys numbered together.
class PtyTransport;
class SysfsPublisher final : public PortListener {
 public:
  static constexpr uint16_t kFirmwareProduct = 0x5678;
  static constexpr uint16_t kDownloadProduct = 0x9008;

  SysfsPublisher(std::string root, const Stick& stick, const PtyTransport& ptys);
  // Why the stick at `location` cannot publish under `root` ("" when it can): ROOT/dev and the
  // folders of ROOT/sys/bus/usb/devices must be the root's own, not links to others, and its
  // device must not be there already.
  static std::string RootRefusal(const std::string& root, const std::string& location);
  void PortsChanged(const std::vector<PublishedPort>& ports) override;
  // Removes the device and its nodes.
  void Withdraw();
  // The tty a published port has ("ttyUSB0"); "" for one it does not know.
  std::string TtyOf(uint64_t portId) const;

 private:
  std::string root_;
  std::string location_;
  const Stick& stick_;
  const PtyTransport& ptys_;
  int devnum_ = 1;
  bool published_ = false;        // the device's folders are the publisher's own
  std::map<uint64_t, int> ttys_;  // port id → k of ttyUSB<k>
};

// The device instance id the driver service lists for a port of stick `stick`: each stick's
// interfaces have a parent of their own, as sticks in different USB sockets do.
std::string DeviceInstanceId(PortRole role, int stick = 0);

}  // namespace orbek::sim
