#!/usr/bin/env bash
# The main job on a terminal: a whole update of the simulated stick with orbek-updater-cli, which
# finds it, presses UPDATE, answers every message and shows its progress; at the end the
# simulator's report is checked against the package. ORBEK_TIME_SCALE as in run-main.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target orbek-stick-sim orbek-updater-cli orbek-demo-summary
bash tools/demo.sh build/default
