// Faults the simulated stick can be told to commit, each tied to a command code of the
// diagnostic port:
//   noreply:CODE[:N]          the next N requests get no answer (default 1)
//   error:CODE:ERR[:N]        the next N requests are answered ERR followed by the request
//   badcrc:CODE[:N]           the next N replies carry a wrong check
//   delay:CODE:MS[:N]         the next N replies come MS milliseconds late
//   split:CODE[:N]            the next N replies come in two writes, a short gap apart
//   merge:CODE[:N]            the next N replies are held back and sent together with the
//                             following reply, in one write
//   unplug:CODE:NTH[:MS|never] at the NTH request the stick drops off the bus instead of
//                             answering, and comes back after MS (default: its re-plug delay)
//   nvrefuse:ITEM[:N[:STATUS]] the next N reads or writes of NV item ITEM are answered with
//                             NV status STATUS (default 4, the NV's own failure) and change
//                             nothing
// CODE, ERR, N, MS, ITEM and STATUS are decimal or 0x-prefixed hexadecimal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orbek::sim {

enum class FaultKind { NoReply, ErrorReply, BadCrc, Delay, Split, Merge, Unplug, NvRefuse };

struct FaultRule {
  FaultKind kind = FaultKind::NoReply;
  uint8_t command = 0;
  uint32_t remaining = 1;  // how many more requests it applies to
  uint8_t errorCode = 0x13;
  uint32_t delayMs = 0;
  uint32_t occurrence = 0;                // unplug: the request number it strikes at
  std::optional<uint32_t> returnAfterMs;  // unplug: nullopt = the re-plug delay
  bool neverReturn = false;
  uint32_t seen = 0;      // requests with this command seen so far (unplug)
  uint16_t nvItem = 0;    // nvrefuse
  uint16_t nvStatus = 4;  // nvrefuse
};

// Parses one SPEC as above; false with `error` set when it is not understood.
bool ParseFault(const std::string& spec, FaultRule& rule, std::string& error);

// A number as the simulator's fault specs and configuration write it: decimal, or hexadecimal
// after "0x"; nothing else (no sign, no blank, no octal), and at most `maximum`.
bool ParseNumberText(const std::string& text, uint64_t maximum, uint64_t& value);

// What the faults decide for one request.
struct FaultDecision {
  bool unplug = false;
  std::optional<uint32_t> returnAfterMs;
  bool neverReturn = false;
  bool noReply = false;
  std::optional<uint8_t> errorCode;
  bool badCrc = false;
  uint32_t delayMs = 0;
  bool split = false;
  bool merge = false;
};

class FaultPlan {
 public:
  void Add(const FaultRule& rule) { rules_.push_back(rule); }
  void Clear() { rules_.clear(); }
  // Consumes the rules that strike the request with this command code.
  FaultDecision Decide(uint8_t command);
  // Consumes a refusal of this NV item: the status to answer with.
  std::optional<uint16_t> RefuseNvItem(uint16_t item);

 private:
  std::vector<FaultRule> rules_;
};

}  // namespace orbek::sim
