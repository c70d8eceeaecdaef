// A pseudo-terminal pair published as COM port N under a private ORBEK_ROOT: the updater opens
// the slave through the platform layer, the test plays the stick on the master side.
#pragma once

#include <string>
#include <vector>

#include "tests/support/wait_until.h"

namespace orbek::testing {

class PtyPeer {
 public:
  explicit PtyPeer(int comNumber);
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool Ok() const { return master_ >= 0; }
  int Master() const { return master_; }
  const std::string& Root() const { return root_; }

  void Send(const std::vector<uint8_t>& bytes);
  // What the updater wrote, waiting up to `realMs` for `count` bytes.
  std::vector<uint8_t> Receive(size_t count, int realMs = 2000);

 private:
  int master_ = -1;
  std::string root_;
  std::string previousRoot_;
  bool hadRoot_ = false;
};

}  // namespace orbek::testing
