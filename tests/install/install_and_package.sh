#!/usr/bin/env bash
# The Linux build installed like a Linux program: `cmake --install` puts the programs, the
# re-plug library, the udev rule, the desktop entry and its icon in their places; `cpack -G DEB`
# makes a Debian package that declares what the programs need; and the window of the installed
# package starts as the desktop entry says (found by its title on a private Xvfb display).
#   tests/install/install_and_package.sh BUILD_DIR     (a default build)
set -euo pipefail
build=$(cd "${1:?usage: install_and_package.sh BUILD_DIR}" && pwd)
work=$(mktemp -d /tmp/orbek-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in bin/orbek-updater bin/orbek-updater-cli lib/orbek-updater/ResetUSB.dll \
  lib/udev/rules.d/60-orbek-updater.rules share/applications/orbek-updater.desktop \
  share/icons/hicolor/48x48/apps/orbek-updater.png; do
  check "cmake --install puts $file" test -s "$work/prefix/$file"
done
rule="$work/prefix/lib/udev/rules.d/60-orbek-updater.rules"
check "the udev rule keeps ModemManager away" grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$rule"
check "and gives the ports to dialout" grep -q 'SUBSYSTEM=="tty", ATTRS{idVendor}=="[0-9a-f]\{4\}", GROUP="dialout"' "$rule"
check "on every event but the removal" bash -c '! grep -q "ACTION==" "$1" && grep -c "ACTION!=\"remove\"" "$1" | grep -qx 2' _ "$rule"

(cd "$work" && cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >/dev/null 2>&1)
deb=$(ls "$work"/package/orbek-updater_*.deb)
control=$(dpkg-deb -f "$deb")
check "the package is orbek-updater" grep -qx "Package: orbek-updater" <<<"$control"
for needed in libqt6widgets6 libstdc++6 libc6 qt6-qpa-plugins udev; do
  check "it depends on $needed" grep -q "^Depends:.*$needed" <<<"$control"
done
dpkg-deb -x "$deb" "$work/root"
desktop="$work/root/usr/share/applications/orbek-updater.desktop"
program=$(sed -n 's/^Exec=//p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
check "the desktop entry runs a program of the package" test -x "$work/root/usr/bin/$program"
check "and shows its icon" test -s "$work/root/usr/share/icons/hicolor/48x48/apps/$icon.png"
check "it is an application in the menu" grep -qx "Type=Application" "$desktop"

# The packaged window starts and shows itself.
mkdir -p "$work/home" && mkdir -m 700 "$work/runtime"
status=0
HOME="$work/home" ORBEK_ROOT="$work/home/orbek" XDG_RUNTIME_DIR="$work/runtime" timeout 120 \
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" & pid=$!
    window=$(timeout 60 xdotool search --sync --name "^Orbek Updater$" | head -n 1)
    kill "$pid"; wait "$pid" 2>/dev/null
    [[ -n $window ]]' _ "$work/root/usr/bin/$program" || status=$?
check "the installed window comes up" test "$status" -eq 0

# The installed program updates a stick as a user who cannot write where it is installed: the
# NV backup goes to the user's data folder. Where even that cannot take the backup, the update
# starts nothing and the stick is left untouched.
if [[ $(id -u) -eq 0 ]] && id nobody >/dev/null 2>&1 && command -v setpriv >/dev/null; then
  chmod 755 "$work"
  user="$work/user"
  mkdir -p "$user"
  chown nobody "$user"
  data="$user/data/orbek-updater"
  # The user runs the simulator from here: the checkout may lie where it cannot enter.
  install -m 755 "$build/sim/orbek-stick-sim" "$work/orbek-stick-sim"
  # Each program runs as the user in place of this shell's child, so that its pid is the child's.
  as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups
           env HOME="$user" XDG_DATA_HOME="$user/data" ORBEK_TIME_SCALE=20 LC_ALL=C)
  as_user() { "${as_user[@]}" "$@"; }
  # update_with_stick OUTPUT: one update with --once against a simulated stick of its own;
  # sets status and leaves the stick's report in $user/report.json.
  update_with_stick() {
    "${as_user[@]}" "$work/orbek-stick-sim" --root "$data" --report "$user/report.json" \
      >"$user/stick.out" 2>&1 &
    local stick_pid=$!
    for _ in $(seq 100); do grep -q '^ready' "$user/stick.out" && break; sleep 0.1; done
    status=0
    as_user timeout 300 "$work/prefix/bin/orbek-updater-cli" --start --yes --once \
      >"$1" 2>&1 </dev/null || status=$?
    kill -TERM "$stick_pid" 2>/dev/null || true  # a stick that could not start is gone already
    wait "$stick_pid" || true
  }
  as_user mkdir -p "$data"

  touch "$work/before-update"
  update_with_stick "$user/update.out"
  check "the installed program updates a stick as a normal user" test "$status" -eq 0
  check "its backup lies in the user's data folder" test -s "$data/Channel1.nvm"
  check "and is kept there under the stick's ESN and IMEI" \
    bash -c 'ls "$1"/nv-backups/80A1B2C3-357123456789012/*.nvm >/dev/null' _ "$data"
  check "nothing was written where the program is installed" \
    test -z "$(find "$work/prefix" -newer "$work/before-update")"
  [[ $status -eq 0 ]] || tail -n 30 "$user/update.out"

  # The data folder's backup store cannot be made: nothing may touch the stick.
  rm -rf "$data/nv-backups"
  touch "$data/nv-backups"
  update_with_stick "$user/refused.out"
  check "a launch that cannot keep the backup ends with status 1" test "$status" -eq 1
  check "and says where it cannot write" grep -q "The NV backup cannot be written to" "$user/refused.out"
  check "and the stick was not touched" \
    bash -c '! grep -q "Downloading..." "$1" && grep -q "\"autorun\": *\[\]" "$2"' _ \
    "$user/refused.out" "$user/report.json"
fi

[[ $failures -eq 0 ]] || exit 1
echo "Installed and packaged: all checks passed"
