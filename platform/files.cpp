#include "platform/files.h"

namespace orbek::platform {

bool WriteFileWhole(const std::string& path, const void* data, size_t size, int* cause) {
  int failure = kCauseNone;
  const PathKind target = KindOfPath(path);
  if (target != PathKind::Missing && target != PathKind::RegularFile) {
    if (cause != nullptr)
      *cause = kCauseAccessDenied;
    return false;
  }
  const std::string staging = path + ".tmp";
  // A staging file left by a killed run goes first (a link is removed, not followed).
  DeleteOneFile(staging);
  bool written =
      WriteNewFile(staging, data, size, {.flush = true, .cause = &failure, .exclusive = true}) ==
      WriteResult::Written;
  if (written)
    written = ReplaceFileWith(path, staging, &failure);
  if (!written) {
    DeleteOneFile(staging);
    if (cause != nullptr)
      *cause = failure;
  }
  return written;
}

}  // namespace orbek::platform
