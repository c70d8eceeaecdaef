#!/usr/bin/env bash
# The program's main job: a whole update of the simulated stick in the updater's window.
# orbek-stick-sim plays the stick on a fresh machine root; orbek-updater finds it. On your display
# you press UPDATE; without one the window runs on a private Xvfb display and the script presses
# UPDATE and answers the final message. It prints the progress, leaves a picture of the window in
# build/default/orbek-updater-after-update.png, and checks the simulator's report against the
# package. The clock runs ORBEK_TIME_SCALE times faster (3 by default: about a minute).
# The same update on a terminal: scripts/run-main-console.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target orbek-stick-sim orbek-updater orbek-demo-summary
bash tools/window-demo.sh build/default
