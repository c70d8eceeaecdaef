// orbek-link-send: sends one packet to a COM port in the stick's framing and prints the reply.
//   orbek-link-send COM HEX... [--mode diag|dload|streaming|raw] [--attempts N] [--timeout MS]
//                   [--stream-write]
// Set ORBEK_TRACE=FILE to keep the frames that went over the wire.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/phone_link.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: orbek-link-send COM HEX... [--mode diag|dload|streaming|raw] "
               "[--attempts N] [--timeout MS] [--stream-write]\n");
  return 2;
}

bool ParseNumber(const char* text, long minimum, long maximum, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 0);
  return end != text && *end == '\0' && value >= minimum && value <= maximum;
}

bool ParseMode(const std::string& name, orbek::LinkMode& mode) {
  if (name == "diag")
    mode = orbek::LinkMode::Diag;
  else if (name == "dload")
    mode = orbek::LinkMode::Dload;
  else if (name == "streaming")
    mode = orbek::LinkMode::Streaming;
  else if (name == "raw")
    mode = orbek::LinkMode::RawDiag;
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long com = 0;
  if (argc < 3 || !ParseNumber(argv[1], 1, 255, com))
    return Usage();
  orbek::PhoneLink link;
  link.Clear();
  long attempts = 1;
  long timeout = 1000;
  bool first = true;
  bool streamWrite = false;
  orbek::PacketWriter packet = link.RawPacket();
  for (int i = 2; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--mode" && i + 1 < argc) {
      if (!ParseMode(argv[++i], link.mode))
        return Usage();
    } else if (argument == "--stream-write") {
      streamWrite = true;
    } else if (argument == "--attempts" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 0, 255, attempts))
        return Usage();
    } else if (argument == "--timeout" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 1, 600000, timeout))
        return Usage();
    } else {
      long byte = 0;
      if (argument.size() != 2 || !ParseNumber(("0x" + argument).c_str(), 0, 255, byte)) {
        return Usage();
      }
      if (first) {
        link.request.command = static_cast<uint8_t>(byte);
        first = false;
      } else if (link.request.payloadLength < link.request.payload.size()) {
        link.request.payload[link.request.payloadLength++] = static_cast<uint8_t>(byte);
      } else {
        std::fprintf(stderr, "packet too long\n");
        return 2;
      }
      packet.Byte(static_cast<uint8_t>(byte));  // the same bytes, for --mode raw
    }
  }
  if (first)
    return Usage();
  if (!link.port.Open(static_cast<int32_t>(com))) {
    std::fprintf(stderr, "cannot open COM%ld\n", com);
    return 1;
  }
  bool ok = streamWrite
                ? link.StreamExchange()
                : link.Exchange(static_cast<uint8_t>(attempts), static_cast<uint32_t>(timeout));
  if (!ok) {
    std::printf("failed: %s\n", link.reason.c_str());
    return 1;
  }
  std::printf("reply:");
  for (uint16_t i = 0; i < link.ReplyLength(); ++i)
    std::printf(" %02X", link.ReplyBytes()[i]);
  std::printf("\n");
  return 0;
}
