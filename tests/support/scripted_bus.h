// A serial bus with one scripted peer: every write is recorded, and each write releases the
// next scripted answer into the input queue (or nothing). Deterministic, for link tests.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/serial_channel.h"

namespace orbek::testing {

using Bytes = std::vector<uint8_t>;

class ScriptedBus final : public platform::SerialBus {
 public:
  explicit ScriptedBus(int comNumber);
  ~ScriptedBus() override;
  ScriptedBus(const ScriptedBus&) = delete;
  ScriptedBus& operator=(const ScriptedBus&) = delete;

  std::unique_ptr<platform::SerialChannel> Open(int comNumber,
                                                const platform::SerialSettings& settings) override;

  // The answer to the next write not yet answered; std::nullopt = stay silent.
  void Answer(std::optional<Bytes> answer) { answers_.push_back(std::move(answer)); }
  // Bytes that arrive without being asked for.
  void Deliver(const Bytes& bytes) { input_.insert(input_.end(), bytes.begin(), bytes.end()); }

  const std::vector<Bytes>& Writes() const { return writes_; }
  size_t Queued() const { return input_.size(); }
  std::vector<platform::PurgeScope> purges;

 private:
  friend class ScriptedChannel;
  int comNumber_;
  std::deque<std::optional<Bytes>> answers_;
  std::deque<uint8_t> input_;
  std::vector<Bytes> writes_;
  platform::SerialBus* previous_;
};

}  // namespace orbek::testing
