#include "link/frame_trace.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace orbek {
namespace {

class FrameTraceFile {
 public:
  void Append(TraceDirection direction, LinkMode mode, const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!configured_)
      Configure();
    if (file_ == nullptr)
      return;
    static const char kHex[] = "0123456789ABCDEF";
    std::string line = std::to_string(platform::TickCountMs() - start_);
    line += direction == TraceDirection::Sent ? " TX " : " RX ";
    line += LinkModeName(mode);
    line.reserve(line.size() + 3 * count + 1);
    for (size_t i = 0; i < count; ++i) {
      line += ' ';
      line += kHex[bytes[i] >> 4];
      line += kHex[bytes[i] & 0x0F];
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  }

  void Reopen() {
    std::lock_guard<std::mutex> hold(mutex_);
    Close();
    configured_ = false;
  }

  ~FrameTraceFile() { Close(); }

 private:
  void Configure() {
    configured_ = true;
    const char* path = std::getenv("ORBEK_TRACE");
    if (path == nullptr || *path == '\0')
      return;
    file_ = std::fopen(path, "ab");
    start_ = platform::TickCountMs();
  }

  void Close() {
    if (file_ != nullptr)
      std::fclose(file_);
    file_ = nullptr;
  }

  std::mutex mutex_;
  bool configured_ = false;
  std::FILE* file_ = nullptr;
  uint64_t start_ = 0;
};

FrameTraceFile& Trace() {
  static FrameTraceFile trace;
  return trace;
}

}  // namespace

void TraceFrame(TraceDirection direction, LinkMode mode, const uint8_t* bytes, size_t count) {
  Trace().Append(direction, mode, bytes, count);
}

void ReopenFrameTrace() {
  Trace().Reopen();
}

}  // namespace orbek
