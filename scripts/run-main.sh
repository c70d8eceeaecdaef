#!/usr/bin/env bash
# The program's main job, as far as it exists today: the link layer (serial port, framing,
# request/response exchange) working over a real pseudo-terminal against a loopback peer.
# The full update against the simulated stick replaces this once it exists.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target orbek-link-demo
trace="$PWD/build/default/link-demo-trace.txt"
rm -f "$trace"
ORBEK_TRACE="$trace" ./build/default/tools/orbek-link-demo
echo
echo "Frames as they went over the wire ($trace):"
cat "$trace"
