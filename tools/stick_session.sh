# Sourced by the scripts that run a whole update: the simulated stick on a machine root.
#   start_stick SIM_PROGRAM ROOT [OPTION...]
#                  starts it (report in ROOT/report.json, output in ROOT/sim.out), sets
#                  $stick_pid and returns once its ports are published. ROOT is its --root, or,
#                  when the options hold --wine-helper EXE, the Wine prefix it publishes into.
#   stop_stick     SIGTERM and wait: the report is written

start_stick() {
  local program=$1 root=$2 root_option=--root
  shift 2
  [[ " $* " == *" --wine-helper "* ]] && root_option=--wine-prefix
  "$program" "$root_option" "$root" --report "$root/report.json" "$@" >"$root/sim.out" 2>&1 &
  stick_pid=$!
  # A Wine prefix takes a few seconds: the registry helper starts under Wine first.
  for _ in $(seq 3000); do
    grep -q '^ready' "$root/sim.out" && return 0
    kill -0 "$stick_pid" 2>/dev/null || break
    sleep 0.02
  done
  echo "the simulated stick did not come up: $(cat "$root/sim.out")" >&2
  return 1
}

stop_stick() {
  [[ -n ${stick_pid:-} ]] || return 0
  kill -TERM "$stick_pid" 2>/dev/null || true
  wait "$stick_pid" || true
  stick_pid=""
}
