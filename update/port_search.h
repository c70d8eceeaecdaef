// The port search of a line: finds the stick, opens its ports, probes it and shows what it
// found. The probe also tells the update whether the stick answers again after a reset.
#pragma once

#include "app/varnel_view.h"

namespace orbek {

// True when the stick answers on the line's diagnostic port; fills currentVersion and
// stickState (and versionRecord when the stick has a version table).
bool ProbeStick(LineSession& line);

// The firmware, Windows and Mac versions, and the ready or searching text with the UPDATE
// button to match.
void ShowLineVersions(CVarnelView& view, int line);

// The thread body: searches, probes and shows, for ever (until its thread is stopped).
void PortSearchThread(platform::SuspendableThread& thread, CVarnelView& view);

// Starts (or restarts) the search thread of `line`.
void StartSearchThread(CVarnelView& view, int line);

}  // namespace orbek
