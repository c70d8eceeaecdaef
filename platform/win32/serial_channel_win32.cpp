// COM ports on Windows: "\\.\COMn" opened for overlapped I/O and driven through the comm calls.
#include <windows.h>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/serial_channel.h"
#include "platform/text_format.h"

namespace orbek::platform {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kPurgeOutput = PURGE_TXABORT | PURGE_TXCLEAR;
constexpr DWORD kEventMask = EV_CTS | EV_DSR | EV_RLSD | EV_BREAK;  // 0x78

class Win32SerialChannel final : public SerialChannel {
 public:
  explicit Win32SerialChannel(HANDLE handle) : handle_(handle) {
    ZeroMemory(&readRequest_, sizeof readRequest_);
    ZeroMemory(&writeRequest_, sizeof writeRequest_);
  }

  ~Win32SerialChannel() override {
    if (readRequest_.hEvent != nullptr)
      CloseHandle(readRequest_.hEvent);
    if (writeRequest_.hEvent != nullptr)
      CloseHandle(writeRequest_.hEvent);
    CloseHandle(handle_);
  }

  Win32SerialChannel(const Win32SerialChannel&) = delete;
  Win32SerialChannel& operator=(const Win32SerialChannel&) = delete;

  bool Configure(int comNumber, const SerialSettings& settings) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 30000;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 50;

    std::string definition = Format("COM%d: %d, n, %d, %d", comNumber, settings.baud,
                                    settings.dataBits, settings.stopBits);

    readRequest_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeRequest_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    DCB control;
    ZeroMemory(&control, sizeof control);
    control.DCBlength = sizeof control;
    GetCommState(handle_, &control);
    BuildCommDCBA(definition.c_str(), &control);

    return SetCommState(handle_, &control) &&
           SetupComm(handle_, kSerialQueueSize, kSerialQueueSize) &&
           SetCommMask(handle_, kEventMask) && SetCommTimeouts(handle_, &timeouts) &&
           readRequest_.hEvent != nullptr && writeRequest_.hEvent != nullptr;
  }

  void Purge(PurgeScope scope) override {
    PurgeComm(handle_, scope == PurgeScope::InputAndOutput ? kPurgeAll : kPurgeOutput);
  }

  size_t Write(const uint8_t* bytes, size_t count) override {
    DWORD written = 0;
    if (WriteFile(handle_, bytes, static_cast<DWORD>(count), &written, &writeRequest_) ||
        GetLastError() != ERROR_IO_PENDING) {
      return written;
    }
    if (WaitForSingleObject(writeRequest_.hEvent, RealWaitMs(kSerialWriteWaitMs)) !=
        WAIT_OBJECT_0) {
      return 0;
    }
    DWORD transferred = 0;
    GetOverlappedResult(handle_, &writeRequest_, &transferred, FALSE);
    return transferred;
  }

  size_t BytesQueued() override {
    DWORD errors = 0;
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    if (!ClearCommError(handle_, &errors, &status))
      return 0;
    return status.cbInQue;
  }

  size_t Read(uint8_t* destination, size_t count) override {
    DWORD read = 0;
    if (ReadFile(handle_, destination, static_cast<DWORD>(count), &read, &readRequest_)) {
      return read;
    }
    if (GetLastError() != ERROR_IO_PENDING)
      return 0;
    // A pending read's count is known only once it completes: fetch it, or cancel the read so
    // that it cannot land in the caller's buffer later.
    if (WaitForSingleObject(readRequest_.hEvent, RealWaitMs(kSerialReadWaitMs)) != WAIT_OBJECT_0) {
      CancelIo(handle_);
      return 0;
    }
    DWORD transferred = 0;
    GetOverlappedResult(handle_, &readRequest_, &transferred, FALSE);
    return transferred;
  }

 private:
  HANDLE handle_;
  OVERLAPPED readRequest_;
  OVERLAPPED writeRequest_;
};

class Win32SerialBus final : public SerialBus {
 public:
  std::unique_ptr<SerialChannel> Open(int comNumber, const SerialSettings& settings) override {
    std::string path = ComDevicePath(comNumber);
    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
      return nullptr;
    auto channel = std::make_unique<Win32SerialChannel>(handle);
    if (!channel->Configure(comNumber, settings))
      return nullptr;  // closes what it created
    return channel;
  }
};

}  // namespace

SerialBus& SystemSerialBus() {
  static Win32SerialBus bus;
  return bus;
}

}  // namespace orbek::platform
