#include "line/line_session.h"

namespace orbek {

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
