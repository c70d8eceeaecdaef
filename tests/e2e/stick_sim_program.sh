#!/usr/bin/env bash
# orbek-stick-sim as a program: published ports, an ESN frame written by plain shell tools, the
# link tool, a reset that re-enumerates, a fault, and the report and clean-up at SIGTERM; roots
# it may not use, and files in its root that are not its own.
set -euo pipefail
sim=$1
send=$2
root=$(mktemp -d /tmp/orbek-e2e-XXXXXX)
export ORBEK_TIME_SCALE=10
# A request that must be answered waits up to a real second: the machine may be busy. One that
# must not be answered waits 30 ms.
answered=10000
cleanup() {
  [[ -n "${pid:-}" ]] && kill "$pid" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- simulator output"; cat "$root/out" || true
  exit 1
}

"$sim" --root "$root" --report "$root/report.json" --fault noreply:0x7C:1 >"$root/out" 2>&1 &
pid=$!
for _ in $(seq 200); do grep -q '^ready' "$root/out" && break; sleep 0.02; done
ready=$(head -n 1 "$root/out")
[[ "$ready" == "ready diag=COM5 modem=COM6" ]] || fail "ready line: $ready"
grep -q '"PortName"="COM5"' "$root/registry.reg" || fail "registry.reg lacks COM5"

# An ESN request written by the shell: 01, its check F1 E1, the flag.
exec 3<>"$root/dosdevices/com5"
printf '\x01\xf1\xe1\x7e' >&3
answer=$(timeout 2 head -c 8 <&3 | od -An -tx1 | tr -d ' \n')
exec 3>&-
[[ "$answer" == "01c3b2a180f2d77e" ]] || fail "ESN answer: $answer"

# The version table, asked for by the shell (39, check 3A 5C, flag): the texts come back in
# their fields after the reply code 39 ("9"), the board tag last.
exec 3<>"$root/dosdevices/com5"
printf '\x39\x3a\x5c\x7e' >&3
table=$(timeout 0.5 cat <&3 | tr '\000' '\n' || true)
exec 3>&-
grep -qx '9R415C1_FW_1.2.0.17' <<<"$table" || fail "version table: $table"
grep -qx 'R415C1_B01' <<<"$table" || fail "board tag in the version table: $table"

out=$(ORBEK_ROOT="$root" "$send" 5 7C --timeout 300) && fail "7C answered despite the fault: $out"
[[ "$out" == "failed: Port Cannot Receive Desired Data from the Phone" ]] || fail "7C: $out"
out=$(ORBEK_ROOT="$root" "$send" 5 7C --timeout "$answered") || fail "7C after the fault: $out"

out=$(ORBEK_ROOT="$root" "$send" 5 29 02 00 --timeout "$answered") || fail "reset: $out"
for _ in $(seq 200); do grep -q '^ports diag=COM7 modem=COM8' "$root/out" && break; sleep 0.02; done
grep -q '^ports none' "$root/out" || fail "no unplug line"
grep -q '^ports diag=COM7 modem=COM8' "$root/out" || fail "no re-enumeration"
[[ -L "$root/dosdevices/com7" && ! -e "$root/dosdevices/com5" ]] || fail "links after reset"
out=$(ORBEK_ROOT="$root" "$send" 7 01 --timeout "$answered") || fail "ESN on the new port: $out"

# An AT line with a byte that is not UTF-8: answered, and in the report as a replacement.
exec 3<>"$root/dosdevices/com8"
printf 'AT\xff\r' >&3
timeout 0.5 cat <&3 >/dev/null || true
exec 3>&-

kill -TERM "$pid"
wait "$pid" || fail "simulator exit status $?"
pid=
grep -q '"0x01": 2' "$root/report.json" || fail "report counts"
grep -q '"0x7C": 2' "$root/report.json" || fail "report counts of 0x7C"
grep -q '"versionTableRequests": 1' "$root/report.json" || fail "report of version tables"
grep -q 'qcusbser6k' "$root/registry.reg" && fail "registry entries left behind"
[[ -z "$(ls "$root/dosdevices")" ]] || fail "links left behind"
grep -q "\"AT$(printf '\xef\xbf\xbd')\"" "$root/report.json" || fail "the AT line with its byte: $(grep -A3 '"at"' "$root/report.json")"

# What it is given and cannot use ends it with a reason, never an abort.
touch "$root/a-file"
mkdir "$root/a-directory"
"$sim" --root "$root/a-file" >"$root/out" 2>&1 && fail "a file as the root was taken"
[[ $? -eq 1 ]] || fail "a file as the root: status $?"
grep -q "not a directory" "$root/out" || fail "a file as the root: $(cat "$root/out")"
status=0
"$sim" --root "$root/r" --config "$root/a-directory" >"$root/out" 2>&1 || status=$?
[[ $status -eq 1 ]] || fail "a directory as the config: status $status"

# Three sticks at once, each in a socket of its own, with a fault aimed at the second alone.
"$sim" --root "$root/three" --sticks 3 --fault @2:noreply:0x01:5 --report "$root/three.json" \
  >"$root/out" 2>&1 &
pid=$!
for _ in $(seq 200); do [[ $(grep -c '^ready' "$root/out") -eq 3 ]] && break; sleep 0.02; done
for line in "ready 1-1 diag=COM5 modem=COM6" "ready 1-2 diag=COM29 modem=COM30" \
  "ready 1-3 diag=COM53 modem=COM54"; do
  grep -qx "$line" "$root/out" || fail "three sticks: no '$line'"
done
grep -q '"Count"=dword:00000003' "$root/three/registry.reg" || fail "three sticks' registry"
out=$(ORBEK_ROOT="$root/three" "$send" 5 01 --timeout "$answered") ||
  fail "ESN of the first stick: $out"
out=$(ORBEK_ROOT="$root/three" "$send" 53 01 --timeout "$answered") ||
  fail "ESN of the third stick: $out"
out=$(ORBEK_ROOT="$root/three" "$send" 29 01 --timeout 300) && fail "the second stick answered: $out"
kill -TERM "$pid"
wait "$pid" || fail "simulator exit status $?"
pid=
locations=$(grep -o '"location": "[^"]*"' "$root/three.json" | cut -d'"' -f4 | tr '\n' ' ')
[[ $locations == "1-1 1-2 1-3 " ]] || fail "the three sticks' locations in the report: $locations"
asked=$(grep -o '"0x01": [0-9]*' "$root/three.json" | tr '\n' ' ')
[[ $asked == '"0x01": 1 "0x01": 1 "0x01": 1 ' ]] || fail "each stick asked its ESN once: $asked"
status=0
"$sim" --root "$root/nine" --sticks 9 >"$root/out" 2>&1 || status=$?
[[ $status -eq 2 ]] || fail "nine sticks: status $status"
status=0
"$sim" --root "$root/two" --sticks 2 --fault @3:noreply:0x01 >"$root/out" 2>&1 || status=$?
[[ $status -eq 2 ]] || fail "a fault at a third of two sticks: status $status"

# expect_refusal WHAT PATTERN COMMAND...: the command ends with status 1 and says PATTERN.
expect_refusal() {
  local what=$1 pattern=$2 status=0
  shift 2
  timeout 20 "$@" >"$root/out" 2>&1 || status=$?
  [[ $status -eq 1 ]] || fail "$what: status $status"
  grep -q "$pattern" "$root/out" || fail "$what: $(cat "$root/out")"
}
# A root it may not write: as root, that is a root another user may not write.
as_other=()
if [[ $(id -u) -eq 0 ]]; then
  id nobody >/dev/null 2>&1 && command -v setpriv >/dev/null || fail "no user nobody or setpriv"
  chmod 755 "$root"
  as_other=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
fi
mkdir "$root/read-only"
chmod 555 "$root/read-only"
expect_refusal "a read-only root" "not writable" "${as_other[@]}" "$sim" --root "$root/read-only"

# Folders of the root that are links to others are refused; nothing there is touched.
mkdir "$root/elsewhere"
echo keep >"$root/elsewhere/ttyUSB0"
echo keep >"$root/elsewhere/com5"
for linked in dev sys sys/bus/usb dosdevices; do
  rm -rf "$root/l"
  mkdir -p "$root/l/$(dirname "$linked")"
  ln -s "$root/elsewhere" "$root/l/$linked"
  options=(--sysfs)
  [[ $linked == dosdevices ]] && options=()
  expect_refusal "a linked $linked" "is a link to another folder" "$sim" --root "$root/l" \
    "${options[@]}"
done
[[ "$(cat "$root/elsewhere/ttyUSB0" "$root/elsewhere/com5")" == "keep"$'\n'"keep" ]] ||
  fail "a linked folder's files were touched"

# A tty node that is not the stick's keeps its number and its contents.
mkdir -p "$root/s/dev"
echo keep >"$root/s/dev/ttyUSB0"
"$sim" --root "$root/s" --sysfs >"$root/out" 2>&1 &
pid=$!
for _ in $(seq 200); do grep -q '^ready' "$root/out" && break; sleep 0.02; done
ready=$(head -n 1 "$root/out")
[[ "$ready" == "ready diag=ttyUSB1 modem=ttyUSB2" ]] || fail "ready beside a foreign node: $ready"
kill -TERM "$pid"
wait "$pid" || fail "simulator exit status $?"
pid=
[[ "$(cat "$root/s/dev/ttyUSB0")" == keep ]] || fail "a foreign tty node was touched"
[[ ! -e "$root/s/dev/ttyUSB1" ]] || fail "the stick's own node left behind"
[[ ! -e "$root/s/sys/bus/usb/devices/1-1" ]] || fail "the stick's own device left behind"
# A device left by a stick that was killed is not taken over.
"$sim" --root "$root/s" --sysfs >"$root/out" 2>&1 &
pid=$!
for _ in $(seq 200); do grep -q '^ready' "$root/out" && break; sleep 0.02; done
kill -KILL "$pid"
wait "$pid" || true
pid=
expect_refusal "a device left behind" "is there already" "$sim" --root "$root/s" --sysfs
echo "1 passed, 0 failed"
