#!/usr/bin/env bash
# The program's main job: a whole update of the simulated stick. orbek-stick-sim plays the stick
# on a fresh machine root; orbek-updater-cli (the updater for terminals) finds it, presses
# UPDATE, answers every message and shows its progress; at the end the simulator's report is
# checked against the package the updater carries. The clock runs ORBEK_TIME_SCALE times faster
# (3 by default: about a minute).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target orbek-stick-sim orbek-updater-cli orbek-demo-summary
bash tools/demo.sh build/default
