#include "ports/replug_thread.h"

#include "platform/files.h"
#include "platform/text_format.h"

#ifndef ORBEK_USB_VENDOR_ID
#define ORBEK_USB_VENDOR_ID 0x1234
#endif

namespace orbek {
namespace {

using ReplugFn = int32_t (*)(const char*);

constexpr uint32_t kDisabledWaitMs = 1000;
constexpr uint32_t kFoundWaitMs = 5000;
constexpr uint32_t kNotFoundWaitMs = 3000;

}  // namespace

std::string ReplugHardwareIdPrefix() {
  return Format("USB\\Vid_%04X&Pid_2000", static_cast<unsigned>(ORBEK_USB_VENDOR_ID));
}

ReplugThread::ReplugThread(std::string libraryPath, const std::atomic<int>& enabled,
                           ShowMessage showMessage)
    : libraryPath_(std::move(libraryPath)),
      enabled_(enabled),
      showMessage_(std::move(showMessage)) {}

ReplugThread::~ReplugThread() {
  Stop();
  UnloadLibrary();
}

void ReplugThread::Start() {
  if (thread_)
    return;
  thread_ = std::make_unique<platform::SuspendableThread>(
      [this](platform::SuspendableThread& thread) { Run(thread); });
  thread_->Resume();
}

void ReplugThread::Suspend() {
  if (thread_)
    thread_->Suspend();
}

void ReplugThread::Resume() {
  if (thread_)
    thread_->Resume();
}

void ReplugThread::Stop() {
  thread_.reset();
}

void ReplugThread::UnloadLibrary() {
  Stop();  // never unload under a running thread
  library_.reset();
}

void ReplugThread::Run(platform::SuspendableThread& thread) {
  library_ = platform::DynamicLibrary::Load(platform::NativePath(libraryPath_));
  if (!library_) {
    showMessage_("Load ResetUSB.dll fail");
    result_ = -1;
    finished_ = true;
    return;
  }
  auto replug = reinterpret_cast<ReplugFn>(library_->Symbol("Replug"));
  if (replug == nullptr) {
    showMessage_("Load ResetUSB.dll -> Replug() fail!");
    result_ = -1;
    finished_ = true;
    return;
  }
  const std::string prefix = ReplugHardwareIdPrefix();
  for (;;) {
    uint32_t wait = kDisabledWaitMs;
    if (enabled_ != 0) {
      const bool found = replug(prefix.c_str()) != 0;
      ++calls_;
      found_ += found ? 1 : 0;
      wait = found ? kFoundWaitMs : kNotFoundWaitMs;
    }
    if (!thread.SleepMs(wait))
      break;
  }
  finished_ = true;
}

}  // namespace orbek
