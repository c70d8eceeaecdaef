#include "diag/nv_status.h"

namespace orbek {
namespace {

struct NvStatusEntry {
  uint16_t status;
  const char* name;
  const char* text;
};

constexpr NvStatusEntry kNvStatuses[] = {
    {0, "NV_DONE_S", ""},
    {1, "NV_BUSY_S", "Request is queued"},
    {2, "NV_BADCMD_S", "Unrecognizable command field"},
    {3, "NV_FULL_S", "The NVM is full"},
    {4, "NV_FAIL_S", "Command failed, reason other than NVM was full"},
    {5, "NV_NOTACTIVE_S", "Variable was not active"},
    {6, "NV_BADPARM_S", "Bad parameter in command block"},
    {7, "NV_READONLY_S", "Parameter is write-protected and thus read only"},
    {8, "NV_BADTG_S", "Item not valid for Target"},
    {9, "NV_NOMEM_S", "free memory exhausted"},
    {10, "NV_NOTALLOC_S", "address is not a valid allocation "},
    {0xFFFF, "NV_RWOPFAILED_S", ""},
};

const NvStatusEntry* Find(uint16_t status) {
  for (const NvStatusEntry& entry : kNvStatuses) {
    if (entry.status == status)
      return &entry;
  }
  return nullptr;
}

}  // namespace

const char* NvStatusName(uint16_t status) {
  const NvStatusEntry* entry = Find(status);
  return entry != nullptr ? entry->name : "Unknown status!";
}

const char* NvStatusText(uint16_t status) {
  const NvStatusEntry* entry = Find(status);
  return entry != nullptr ? entry->text : "";
}

}  // namespace orbek
