# Sourced by the scripts that run a whole update: the simulated stick on a machine root.
#   start_stick SIM_PROGRAM ROOT     starts it (report in ROOT/report.json, output in ROOT/sim.out),
#                                    sets $stick_pid and returns once its ports are published
#   stop_stick                       SIGTERM and wait: the report is written

start_stick() {
  "$1" --root "$2" --report "$2/report.json" >"$2/sim.out" 2>&1 &
  stick_pid=$!
  for _ in $(seq 500); do
    grep -q '^ready' "$2/sim.out" && return 0
    sleep 0.02
  done
  echo "the simulated stick did not come up: $(cat "$2/sim.out")" >&2
  return 1
}

stop_stick() {
  [[ -n ${stick_pid:-} ]] || return 0
  kill -TERM "$stick_pid" 2>/dev/null || true
  wait "$stick_pid" || true
  stick_pid=""
}
