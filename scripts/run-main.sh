#!/usr/bin/env bash
# The program's main job, as far as it exists today. The update itself is not built yet; what
# runs is everything beneath it: the simulated stick on pseudo-terminals, published the way the
# updater finds ports; the updater's port search finding it and showing its port, versions and
# ready text; and the link layer talking to it: identity, build id, an NV item, a refused
# command, a reset with the stick coming back on new COM ports. Every frame is traced.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target orbek-stick-sim orbek-link-send orbek-port-search

build=build/default
root=$(mktemp -d /tmp/orbek-main-XXXXXX)
export ORBEK_TIME_SCALE=${ORBEK_TIME_SCALE:-5}
export ORBEK_TRACE="$build/main-trace.txt"
rm -f "$ORBEK_TRACE"
"$build/sim/orbek-stick-sim" --root "$root" --report "$root/report.json" >"$root/sim.out" &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -rf "$root"' EXIT
for _ in $(seq 250); do grep -q '^ready' "$root/sim.out" && break; sleep 0.02; done

echo "Orbek Updater: the update is not built yet; this runs the port search and the link layer"
echo "against the simulated stick (clock ${ORBEK_TIME_SCALE}x, ports under $root)."
echo "stick: $(head -n 1 "$root/sim.out")"
diag=$(sed -n 's/^ready diag=COM\([0-9]*\).*/\1/p' "$root/sim.out")

echo
echo "The port search, as the window shows it after 3 s (control id, then what it shows):"
ORBEK_ROOT="$root" "$build/tools/orbek-port-search" 3 |
  awk '{ id = $3; $1 = $2 = $3 = ""; sub(/^ +/, ""); last[id] = $0 } END { for (id in last) print id, last[id] }' |
  sort -n
echo

ask() {  # ask DESCRIPTION COM BYTES...
  local what=$1
  shift
  printf '%-34s ' "$what"
  ORBEK_ROOT="$root" "$build/tools/orbek-link-send" "$@" || true
}

nv_read=(26 16 00 $(printf '00 %.0s' $(seq 130)))
ask "ESN" "$diag" 01
ask "extended build id" "$diag" 7C
ask "NV item 22" "$diag" "${nv_read[@]}" --attempts 3 --timeout 2000
ask "an unknown command" "$diag" 55 01
ask "reset" "$diag" 29 02 00 --timeout 10000

echo "waiting for the stick to come back ..."
for _ in $(seq 500); do [[ $(grep -c '^ports diag=' "$root/sim.out") -ge 1 ]] && break; sleep 0.02; done
line=$(grep '^ports diag=' "$root/sim.out" | tail -n 1)
echo "stick: $line"
diag=$(sed -n 's/^ports diag=COM\([0-9]*\).*/\1/p' <<<"$line")
ask "ESN on the new port" "$diag" 01

kill -TERM "$sim"
wait "$sim" || true
echo
echo "What the stick saw (report):"
sed -n '/"counts"/,/^  }/p' "$root/report.json"
echo
echo "Frames as they went over the wire ($ORBEK_TRACE):"
cat "$ORBEK_TRACE"
