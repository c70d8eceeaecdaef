#!/usr/bin/env bash
# Runs the updater's window on the current X display and follows it as a person would: finds the
# window by its title, watches the UPDATE button and the progress bar (by their pixels), and
# keeps a picture of the window when the final message box is up. With --press it also acts as
# the person: it clicks UPDATE once it is enabled and answers the final box with Enter; with
# --keys it uses the keyboard alone: Tab to UPDATE and Space, and Esc answers the final box.
#   tools/window_session.sh UPDATER [--press [--keys]] [--shot FILE] [--timeout SECONDS]
#                           [--frame LEFT,TOP] [--found-shot FILE] [--close-at PERCENT]
#                           [--hook COMMAND]
# --frame: where the form starts inside the window (a window that draws its own frame, as Wine
# does, has its caption and border inside); --found-shot: a picture when UPDATE is first enabled;
# --close-at: once the bar shows PERCENT, press the frame's close box and answer the close
# question No; --hook: run as "COMMAND EVENT" at the events found, question and final.
# Runs the updater in the current directory with the current environment (ORBEK_ROOT,
# ORBEK_TIME_SCALE, LC_ALL); exits with the updater's exit status (124 when it timed out).
set -uo pipefail

updater=$1
shift
press=0
keys=0
shot=""
limit=600
frame_left=0
frame_top=0
found_shot=""
close_at=""
hook=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --press) press=1 ;;
    --keys) keys=1 ;;
    --shot) shot=$2; shift ;;
    --timeout) limit=$2; shift ;;
    --frame) IFS=, read -r frame_left frame_top <<<"$2"; shift ;;
    --found-shot) found_shot=$2; shift ;;
    --close-at) close_at=$2; shift ;;
    --hook) hook=$2; shift ;;
    *) echo "window_session: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

title='^Orbek Updater$'
question_title='^(Warning|Waring)$'
# Where the form's controls are, in pixels from the form's corner (form template 101).
update_button="118x77+$((663 + frame_left))+$((312 + frame_top))"
update_centre=($((721 + frame_left)) $((350 + frame_top)))
progress_row="780x1+$((12 + frame_left))+$((451 + frame_top))"  # inside the bar's frame

"$updater" &
pid=$!
deadline=$((SECONDS + limit))

alive() { kill -0 "$pid" 2>/dev/null; }
finish() {
  local status=0
  wait "$pid" || status=$?
  exit "$status"
}
give_up() {
  echo "window_session: $1" >&2
  [[ -n $shot && -n ${window:-} ]] && shoot "$shot" 2>/dev/null
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 124
}

# A picture of the window as the screen shows it (a message box over it included).
shoot() {
  local X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
}

# The darkest grey in a region of the window, 0 (black) to 100 (white).
darkest() {
  import -window "$window" -crop "$1" -colorspace gray -format '%[fx:int(100*minima)]' info: \
    2>/dev/null || echo 100
}
# How much of the progress bar is filled, in percent: the share of its row that is the bar's
# highlight blue.
progress() {
  import -window "$window" -crop "$progress_row" txt:- 2>/dev/null |
    awk -F'[(),]' 'NR > 1 { total++; if ($5 + 0 > $3 + 8000) blue++ }
                   END { printf "%d", total ? 100 * blue / total + 0.5 : 0 }'
}
# A second top-level window with the title: a message box of the program.
message_box() {
  xdotool search --onlyvisible --name "${1:-$title}" 2>/dev/null | grep -vx "$window" | tail -n 1
}
run_hook() {
  [[ -z $hook ]] || $hook "$1" || echo "window_session: the hook failed at $1" >&2
}
# The close box at the right end of the frame's caption, the close question, and No.
ask_to_close() {
  local WIDTH question=""
  eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^WIDTH=')"
  xdotool mousemove --window "$window" $((WIDTH - frame_left - 10)) $((frame_top / 2 + 1)) click 1
  echo "The close box pressed at ${percent}%."
  for _ in $(seq 50); do
    question=$(message_box "$question_title")
    [[ -n $question ]] && break
    sleep 0.2
  done
  [[ -n $question ]] || give_up "no close question came up"
  sleep 0.5  # drawn
  echo "The close question is up: $(xdotool getwindowname "$question")."
  run_hook question
  xdotool windowfocus "$question" key n
  for _ in $(seq 50); do
    [[ -z $(message_box "$question_title") ]] && break
    sleep 0.2
  done
  [[ -z $(message_box "$question_title") ]] || give_up "the close question stayed up after No"
  echo "The close question answered No."
}

window=""
until [[ -n $window ]]; do
  alive || finish
  ((SECONDS < deadline)) || give_up "no window titled Orbek Updater"
  sleep 0.2
  window=$(xdotool search --name "$title" 2>/dev/null | head -n 1)
done
echo "The window is up ($(xdotool getwindowgeometry "$window" | awk '/Geometry/ {print $2}'))."

enabled=0
clicked=0
shown=-1
found=0
asked=0
while alive; do
  ((SECONDS < deadline)) || give_up "the update did not end in time"
  if (($(darkest "$update_button") < 30)); then
    ((enabled)) || echo "UPDATE is enabled."
    enabled=1
    if ((!found)); then
      found=1
      [[ -n $found_shot ]] && shoot "$found_shot" && echo "Picture of the window: $found_shot"
      run_hook found
    fi
    if ((press && !clicked)); then
      if ((keys)); then
        # UPDATE is the form's one control that takes the focus.
        xdotool windowfocus "$window" key Tab space
      else
        xdotool mousemove --window "$window" "${update_centre[@]}" click 1
      fi
      clicked=1
      echo "UPDATE pressed$( ((keys)) && echo " with Tab and Space")."
    fi
  else
    enabled=0
  fi
  percent=$(progress)
  if ((percent != shown)); then
    echo "Progress: $percent%"
    shown=$percent
  fi
  if [[ -n $close_at ]] && ((clicked && !asked && percent >= close_at && percent < 90)); then
    ask_to_close
    asked=1
  fi
  box=$(message_box)
  if [[ -n $box && $percent -ge 98 ]]; then
    echo "The final message is up."
    sleep 0.5  # drawn
    [[ -n $shot ]] && shoot "$shot" && echo "Picture of the window: $shot"
    run_hook final
    if ((press && keys)); then
      xdotool windowfocus "$box" key Escape  # Esc on the box: as its close button, OK
      echo "The final message answered with Esc."
    elif ((press)); then
      xdotool windowfocus "$box" key Return  # Enter on the box: OK
      echo "The final message answered with Enter."
    fi
    while alive && ((SECONDS < deadline)); do sleep 0.2; done
    break
  fi
  if [[ -n $box ]] && ((press)); then
    give_up "a message box came up before the update's end"
  fi
  sleep 0.3
done
finish
