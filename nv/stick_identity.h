// Which stick a line talks to (StickIdentity, with the line): the rules that read, name and
// compare it. Item 0 of the NV is not the ESN: many sticks keep it zero or inactive and answer
// the ESN command with a value of their own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "line/line_session.h"
#include "nv/nv_item_list.h"

namespace orbek {

inline constexpr uint16_t kImeiItem = 550;

// The ESN the stick answered, unless it names no stick (0 or FFFFFFFF).
std::optional<uint32_t> UsableEsn(uint32_t answered);

// The IMEI an item 550 value holds: its BCD digits after the identity type nibble; "" when the
// value is blank (all zero or no digits). A value that is not BCD is given as its bytes in hex,
// so that two such values still compare as they are.
std::string ImeiOfItem(const std::array<uint8_t, 128>& data);

// The store's folder of a stick: "<ESN>-<IMEI>", "<ESN>" or "<IMEI>"; "" for a stick known by
// neither. And back: an ESN folder of 8 hex digits, as earlier versions named them, is read too.
std::string IdentityFolderName(const StickIdentity& identity);
std::optional<StickIdentity> IdentityOfFolderName(const std::string& name);

// Whether a backup taken of `backup` may go into `stick` when nothing but the record tells. A
// stick with a readable IMEI takes only a backup of the same IMEI and an ESN that does not
// contradict its own; a stick whose NV was wiped (no IMEI) takes one of its own non-zero ESN,
// else one taken in its own socket.
bool BackupIsOfStick(const StickIdentity& backup, const StickIdentity& stick);

// Whether the stick on the line now cannot be the one read before: another socket, an ESN or an
// IMEI that differs where both are known. A flash may wipe the ESN or the IMEI; that contradicts
// nothing.
bool IdentityContradicts(const StickIdentity& before, const StickIdentity& now);

// Reads the stick's ESN (three tries) and item 550 over the line's link; the socket is the line's.
StickIdentity ReadStickIdentity(LineSession& line);

// The identity a backup table holds in its items 0 and 550, each only when it was read whole and
// is not blank.
struct FileIdentity {
  std::optional<uint32_t> item0;
  std::string imei;
};
FileIdentity IdentityOfTable(const NvTable& table);

}  // namespace orbek
