// The port search of a line: finds the stick, opens its ports, probes it and shows what it
// found. The probe also tells the update whether the stick answers again after a reset.
#pragma once

#include "line/line_handle.h"
#include "ports/port_scanner.h"

namespace orbek {

// True when the stick answers on the line's diagnostic port; fills currentVersion and
// stickState (and versionRecord when the stick has a version table).
bool ProbeStick(LineSession& line);

// Asked of a port whose stick gave no DIAG answer at all: the boot loader's no-op, then the
// flash programmer's. True when the boot loader acknowledged (stickState becomes download
// mode); a programmer that answers is reset, to be found in its boot loader or its firmware.
bool ProbeDownloadMode(LineSession& line);

// The firmware, Windows and Mac versions, and whether the stick is ready for an update.
LineVersions VersionsOf(const LineSession& line);
// Shows them on the line (the ready or searching text with the UPDATE button to match).
void ShowLineVersions(const LineHandle& line);

// One search for the line's stick's ports (at the stick's location when several lines run);
// what it finds goes where discovery results go. True when a diagnostic or modem instance was
// found.
bool FindLinePorts(const LineHandle& line, PortScanner& scanner);

// The thread body: searches, probes and shows, for ever (until its thread is stopped).
void PortSearchThread(platform::SuspendableThread& thread, const LineHandle& line);

// Starts (or restarts) the search thread of the line.
void StartSearchThread(const LineHandle& line);

}  // namespace orbek
