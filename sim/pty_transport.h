// The simulated stick's ports as pseudo-terminals: one pty pair per port, the stick on the
// master side, the slave raw 8N1 and linked as ROOT/dosdevices/comN (unless another publisher
// names the slaves). A port that goes away closes its master (the host's reads and writes fail)
// and removes its link. The stick keeps a hold of its own on each slave, through which it takes
// back the exclusive mode a host set and left behind (a host killed while it held the port):
// once no host holds the port's lock, the next host may open it.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/stick.h"

namespace orbek::sim {

class PtyTransport final : public PortListener {
 public:
  PtyTransport(Stick& stick, std::string root, bool comLinks = true);
  // Why the stick cannot publish its COM links under `root` ("" when it can): ROOT/dosdevices
  // must be a folder of the root's own, not a link to another.
  static std::string RootRefusal(const std::string& root);
  ~PtyTransport() override;
  PtyTransport(const PtyTransport&) = delete;
  PtyTransport& operator=(const PtyTransport&) = delete;

  // Starts moving bytes; ports are opened as the stick publishes them.
  void Start();
  // Stops, closes every master and removes the links.
  void Stop();

  void PortsChanged(const std::vector<PublishedPort>& ports) override;
  // The slave device of a port that is open ("" when there is none); with the stick's mutex held.
  std::string SlavePath(uint64_t portId) const;

 private:
  struct Pty {
    PublishedPort port;
    int master = -1;
    int slaveHold = -1;  // the stick's own descriptor of the slave
    std::string link;
    std::string slave;
    std::vector<uint8_t> pendingOut;  // what the master could not take yet
  };

  void Run();
  void ReleaseAbandonedExclusiveModes();
  void CloseAll();
  void Close(Pty& pty);
  bool Open(const PublishedPort& port, Pty& pty);

  Stick& stick_;
  std::string root_;
  bool comLinks_;
  std::vector<Pty> ptys_;  // guarded by the stick's mutex
  std::atomic<bool> running_{false};
  std::thread thread_;
  std::chrono::steady_clock::time_point nextExclusiveCheck_;
};

}  // namespace orbek::sim
