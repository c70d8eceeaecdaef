#!/usr/bin/env bash
# Runs the factory window (orbek-updater --factory, on Linux or under Wine) on the current X
# display and uses it as a person would: once the first ROWS rows show their stick ready (their
# start buttons on), it presses start-all, clicked or with --keys reached by Tab and pressed with
# Space, answers any box with Enter, and waits until each of those rows shows its Pass or Fail
# picture. It prints "row N pass" or "row N fail" for each, keeps a picture of the window, and
# ends the program: SIGTERM, or with --close its frame's close box (Alt+F4 with --keys).
#   tools/factory_session.sh [--rows N] [--keys] [--focus COMMAND] [--frame LEFT,TOP]
#                            [--shot FILE] [--timeout SECONDS] [--close] [--hook COMMAND]
#                            UPDATER [ARGUMENT...]
# --focus: a command that prints the id of the control the keyboard's focus is on (Wine:
# orbek-window-texts.exe); with --keys, Tab is pressed until it is start-all's. Without it Tab is
# pressed five times from the first control (the NV choices, then the two paths, each a button
# and its edit box). --frame: where the form starts inside the window (Wine draws its frame
# inside). --hook: run as "COMMAND ended" once every row ended, before the program ends.
# Exits with the program's exit status once every row ended, otherwise non-zero.
set -uo pipefail

rows=3 keys=0 focus="" frame_left=0 frame_top=0 shot="" limit=400 close=0 hook=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --rows) rows=$2; shift ;;
    --keys) keys=1 ;;
    --focus) focus=$2; shift ;;
    --frame) IFS=, read -r frame_left frame_top <<<"$2"; shift ;;
    --shot) shot=$2; shift ;;
    --timeout) limit=$2; shift ;;
    --close) close=1 ;;
    --hook) hook=$2; shift ;;
    *) break ;;
  esac
  shift
done
[[ $# -gt 0 ]] || { echo "factory_session: no program" >&2; exit 2; }

# Where the factory template puts its controls, in pixels from the form's corner: start-all's
# centre, the rows 42 pixels apart, each row's picture (32 x 32) and its start button (81 x 25).
start_all=(55 110)
row_pitch=42
picture_left=56 picture_top=130
start_left=1085 start_top=133

"$@" &
pid=$!
window=""
for _ in $(seq 600); do
  window=$(xdotool search --name '^Orbek Updater$' 2>/dev/null | head -n 1)
  [[ -n $window ]] && break
  sleep 0.1
done
X=0 Y=0 WIDTH=0 HEIGHT=0
shoot() { [[ -n $shot ]] && import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shot"; }
give_up() {
  echo "factory_session: $1" >&2
  shoot
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 3
}
[[ -n $window ]] || give_up "no window"
sleep 1  # placed and drawn
eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
form_x=$((X + frame_left)) form_y=$((Y + frame_top))

# A row's start button is dark text on a light button while it is on.
start_on() {
  local darkest
  darkest=$(import -window root -crop "61x13+$((form_x + start_left + 10))+$((form_y + start_top + 6 + row_pitch * $1))" \
    -colorspace gray -format '%[fx:int(100*minima)]' info: 2>/dev/null || echo 100)
  [[ $darkest -lt 40 ]]
}
# A row's picture: "pass" (mostly green), "fail" (mostly red) or nothing.
picture_of() {
  import -window root -crop "32x32+$((form_x + picture_left))+$((form_y + picture_top + row_pitch * $1))" \
    +repage -depth 8 txt:- 2>/dev/null |
    awk -F'[(),]' 'NR > 1 { r = $3 + 0; g = $4 + 0; b = $5 + 0
                            if (g > r + 60 && g > b + 60) green++; if (r > g + 60 && r > b + 60) red++ }
                   END { if (green > 60) print "pass"; else if (red > 60) print "fail" }'
}
every_row() {  # every_row TEST: true when TEST holds for each row
  local row
  for ((row = 0; row < rows; ++row)); do "$1" "$row" || return 1; done
}
any_start_off() {
  local row
  for ((row = 0; row < rows; ++row)); do start_on "$row" || return 0; done
  return 1
}
row_ended() { [[ -n $(picture_of "$1") ]]; }
# A box over the window (another visible window of the program's titles) is answered with Enter.
answer_boxes() {
  local box
  for box in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    [[ $box == "$window" ]] && continue
    case $(xdotool getwindowname "$box" 2>/dev/null) in
      Line*|Warning|Waring|Error|Orbek*) xdotool windowfocus "$box" key Return 2>/dev/null ;;
    esac
  done
}

deadline=$((SECONDS + limit))
until every_row start_on; do
  ((SECONDS < deadline)) || give_up "the rows never showed their sticks ready"
  sleep 0.2
done
press_start_all() {
  if [[ $keys -eq 0 ]]; then
    xdotool mousemove "$((form_x + start_all[0]))" "$((form_y + start_all[1]))" click 1
    return
  fi
  xdotool windowfocus "$window" 2>/dev/null
  if [[ -n $focus ]]; then
    local tabs
    for tabs in $(seq 20); do
      [[ $($focus) == 2060 ]] && break
      xdotool key Tab
    done
  else
    xdotool key Tab Tab Tab Tab Tab
  fi
  xdotool key space
}
# Pressed again (five times at most) while no row has started: a press that a busy machine did
# not deliver must not leave the session waiting for nothing.
started=0
for _ in 1 2 3 4 5; do
  press_start_all
  for _ in $(seq 50); do
    any_start_off && { started=1; break; }
    sleep 0.1
  done
  [[ $started -eq 1 ]] && break
done
[[ $started -eq 1 ]] || give_up "start-all never took"
until every_row row_ended; do
  ((SECONDS < deadline)) || give_up "not every row ended"
  answer_boxes
  sleep 0.5
done
for ((row = 0; row < rows; ++row)); do echo "row $((row + 1)) $(picture_of "$row")"; done
# A line's end may still bring its box (a failure's): answered before the picture is taken.
for _ in $(seq 6); do
  sleep 0.5
  answer_boxes
done
shoot
[[ -n $hook ]] && $hook ended
if [[ $close -eq 0 ]]; then
  kill -TERM "$pid"
elif [[ $keys -eq 1 ]]; then
  xdotool windowfocus "$window" key alt+F4
else
  xdotool mousemove "$((X + WIDTH - frame_left - 10))" "$((Y + frame_top / 2 + 1))" click 1
fi
# Ended within a minute: nothing runs, so nobody is asked.
for _ in $(seq 120); do
  kill -0 "$pid" 2>/dev/null || break
  answer_boxes
  sleep 0.5
done
kill -0 "$pid" 2>/dev/null && give_up "the program did not end"
status=0
wait "$pid" || status=$?
exit "$status"
