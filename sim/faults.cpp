#include "sim/faults.h"

#include <cstdint>

namespace orbek::sim {
namespace {

bool ParseNumber(const std::string& text, uint32_t maximum, uint32_t& value) {
  uint64_t number = 0;
  if (!ParseNumberText(text, maximum, number))
    return false;
  value = static_cast<uint32_t>(number);
  return true;
}

// The fields between the colons, an empty last one included ("noreply:0x01:" has three).
std::vector<std::string> SplitFields(const std::string& spec) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t colon = spec.find(':'); colon != std::string::npos; colon = spec.find(':', start)) {
    fields.push_back(spec.substr(start, colon - start));
    start = colon + 1;
  }
  fields.push_back(spec.substr(start));
  return fields;
}

}  // namespace

bool ParseNumberText(const std::string& text, uint64_t maximum, uint64_t& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty())
    return false;
  const uint64_t base = hex ? 16 : 10;
  uint64_t number = 0;
  for (char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    if (digit < 0 || number > (UINT64_MAX - static_cast<uint64_t>(digit)) / base)
      return false;  // not a digit, or past 64 bits
    number = number * base + static_cast<uint64_t>(digit);
  }
  if (number > maximum)
    return false;
  value = number;
  return true;
}

bool ParseFault(const std::string& spec, FaultRule& rule, std::string& error) {
  std::vector<std::string> fields = SplitFields(spec);
  error = "fault '" + spec + "' is not understood";
  if (fields.size() < 2)
    return false;
  const std::string& kind = fields[0];
  if (kind == "nvrefuse") {
    uint32_t item = 0;
    uint32_t status = 4;
    rule = FaultRule{};
    rule.kind = FaultKind::NvRefuse;
    if (fields.size() > 4 || !ParseNumber(fields[1], 0xFFFF, item) ||
        (fields.size() >= 3 &&
         (!ParseNumber(fields[2], 1000000, rule.remaining) || rule.remaining == 0)) ||
        (fields.size() == 4 && !ParseNumber(fields[3], 0xFFFF, status))) {
      return false;
    }
    rule.nvItem = static_cast<uint16_t>(item);
    rule.nvStatus = static_cast<uint16_t>(status);
    error.clear();
    return true;
  }
  uint32_t command = 0;
  if (!ParseNumber(fields[1], 0xFF, command))
    return false;
  rule = FaultRule{};
  rule.command = static_cast<uint8_t>(command);
  size_t countField = 2;  // where the optional repeat count N is
  if (kind == "noreply") {
    rule.kind = FaultKind::NoReply;
  } else if (kind == "badcrc") {
    rule.kind = FaultKind::BadCrc;
  } else if (kind == "split") {
    rule.kind = FaultKind::Split;
  } else if (kind == "merge") {
    rule.kind = FaultKind::Merge;
  } else if (kind == "error" || kind == "delay") {
    uint32_t value = 0;
    if (fields.size() < 3 || !ParseNumber(fields[2], kind == "error" ? 0xFF : 3600000, value)) {
      return false;
    }
    rule.kind = kind == "error" ? FaultKind::ErrorReply : FaultKind::Delay;
    rule.errorCode = static_cast<uint8_t>(value);
    rule.delayMs = value;
    countField = 3;
  } else if (kind == "unplug") {
    rule.kind = FaultKind::Unplug;
    if (fields.size() < 3 || !ParseNumber(fields[2], 1000000, rule.occurrence) ||
        rule.occurrence == 0 || fields.size() > 4) {
      return false;
    }
    if (fields.size() == 4) {
      uint32_t after = 0;
      if (fields[3] == "never") {
        rule.neverReturn = true;
      } else if (ParseNumber(fields[3], 3600000, after)) {
        rule.returnAfterMs = after;
      } else {
        return false;
      }
    }
    error.clear();
    return true;
  } else {
    return false;
  }
  if (fields.size() > countField + 1)
    return false;
  if (fields.size() == countField + 1 &&
      (!ParseNumber(fields[countField], 1000000, rule.remaining) || rule.remaining == 0)) {
    return false;
  }
  error.clear();
  return true;
}

FaultDecision FaultPlan::Decide(uint8_t command) {
  FaultDecision decision;
  for (FaultRule& rule : rules_) {
    if (rule.command != command || rule.kind == FaultKind::NvRefuse)
      continue;
    if (rule.kind == FaultKind::Unplug) {
      if (++rule.seen == rule.occurrence) {
        decision.unplug = true;
        decision.returnAfterMs = rule.returnAfterMs;
        decision.neverReturn = rule.neverReturn;
      }
      continue;
    }
    if (rule.remaining == 0)
      continue;
    --rule.remaining;
    switch (rule.kind) {
      case FaultKind::NoReply:
        decision.noReply = true;
        break;
      case FaultKind::ErrorReply:
        decision.errorCode = rule.errorCode;
        break;
      case FaultKind::BadCrc:
        decision.badCrc = true;
        break;
      case FaultKind::Delay:
        decision.delayMs += rule.delayMs;
        break;
      case FaultKind::Split:
        decision.split = true;
        break;
      case FaultKind::Merge:
        decision.merge = true;
        break;
      case FaultKind::Unplug:
      case FaultKind::NvRefuse:
        break;
    }
  }
  return decision;
}

std::optional<uint16_t> FaultPlan::RefuseNvItem(uint16_t item) {
  for (FaultRule& rule : rules_) {
    if (rule.kind == FaultKind::NvRefuse && rule.nvItem == item && rule.remaining > 0) {
      --rule.remaining;
      return rule.nvStatus;
    }
  }
  return std::nullopt;
}

}  // namespace orbek::sim
