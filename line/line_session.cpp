#include "line/line_session.h"

#include "platform/text_format.h"

namespace orbek {

std::string StickIdentity::Describe() const {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  add(esn ? Format("ESN %08X", *esn) : std::string("ESN 0"));
  add("IMEI " + (imei.empty() ? std::string("-") : imei));
  if (!socket.empty())
    add("socket " + socket);
  return text;
}

bool ReopenPort(LineSession& line, LinePort port) {
  if (port == LinePort::Diagnostic) {
    line.link.port.Close();
    return line.link.port.Open(line.diagPort);
  }
  line.atPort.port.Close();
  if (!line.atPort.port.Open(line.dataPort))
    return false;
  line.atPort.SetTimeout(kAtPortTimeoutMs);
  line.atPort.SetAttempts(kAtPortAttempts);
  return true;
}

}  // namespace orbek
