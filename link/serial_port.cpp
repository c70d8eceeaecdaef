#include "link/serial_port.h"

#include <algorithm>

namespace orbek {

using platform::PurgeScope;

bool SerialPort::Open(int32_t comNumber, const platform::SerialSettings& settings) {
  if (isOpen != 0)
    return true;
  channel = platform::OpenSerialChannel(comNumber, settings);
  if (!channel)
    return false;
  isOpen = 1;
  channel->Purge(PurgeScope::InputAndOutput);
  return true;
}

bool SerialPort::Close() {
  if (isOpen != 0 && channel)
    channel->Purge(PurgeScope::InputAndOutput);
  channel.reset();
  isOpen = 0;
  return true;
}

uint32_t SerialPort::PurgeAndWrite(PurgeScope scope, const uint8_t* bytes, uint32_t count) {
  if (!channel)
    return 0;
  channel->Purge(scope);
  return static_cast<uint32_t>(channel->Write(bytes, count));
}

uint32_t SerialPort::Write(const uint8_t* bytes, uint32_t count) {
  return PurgeAndWrite(PurgeScope::InputAndOutput, bytes, count);
}

uint32_t SerialPort::WriteKeepInput(const uint8_t* bytes, uint32_t count) {
  return PurgeAndWrite(PurgeScope::OutputOnly, bytes, count);
}

uint32_t SerialPort::BytesQueued() {
  if (isOpen == 0 || !channel)
    return 0;
  return static_cast<uint32_t>(channel->BytesQueued());
}

uint32_t SerialPort::Read(uint8_t* destination, uint32_t maximum) {
  if (isOpen == 0 || !channel)
    return 0;
  size_t queued = channel->BytesQueued();
  if (queued == 0)
    return 0;
  return static_cast<uint32_t>(channel->Read(destination, std::min<size_t>(maximum, queued)));
}

}  // namespace orbek
