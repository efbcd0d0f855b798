# shellcheck shell=bash
# One whole run of the window program driven by an operator made of xdotool
# key presses on a virtual display, with a screenshot of every step: Start,
# Next, the port in the Setup dialog, OK, Yes to the boot method, the unit's
# reset, the success box, then the About box. The window program and the
# platform differ only in how the port is chosen and how the About box is
# opened; the caller supplies those two steps. Needs common.sh.
#
# Windows are found by searching for their titles, never by trusting
# whichever window is active: a window manager that comes up late or a
# window that takes focus slowly must not make the operator press keys
# into nothing.

# start_window_manager [openbox options...]: openbox, started and waited
# for until it manages the screen (it then names its check window in
# _NET_SUPPORTING_WM_CHECK). One that has not come up after 20 s (seen
# once in 60 demo runs on a loaded machine) is started again.
start_window_manager() {
  local pid
  for _ in 1 2 3; do
    openbox "$@" >/dev/null 2>&1 &
    pid=$!
    if retry_for 20 wm_is_up; then
      track_process "$pid"
      return 0
    fi
    echo "The window manager did not come up; starting it again." >&2
    kill "$pid" 2>/dev/null || true
  done
  echo "Gave up starting the window manager." >&2
  exit 1
}
wm_is_up() { grep -q 'window id #' <<<"$(xprop -root -notype _NET_SUPPORTING_WM_CHECK)"; }

SEEN_WINDOWS=()

# focus_found_window: activates FOUND_WINDOW (when there is one) and
# succeeds once it has the focus.
focus_found_window() {
  [ -n "$FOUND_WINDOW" ] || return 1
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$FOUND_WINDOW" ] && return 0
  xdotool windowactivate --sync "$FOUND_WINDOW" >/dev/null 2>&1
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$FOUND_WINDOW" ]
}
seen() { # seen <window id>
  local id
  for id in "${SEEN_WINDOWS[@]}"; do [ "$id" = "$1" ] && return 0; done
  return 1
}

# focus_window_titled <title>: finds a visible window of that exact title
# and activates it; succeeds once it has the focus. Sets FOUND_WINDOW.
focus_window_titled() {
  local id
  FOUND_WINDOW=""
  for id in $(xdotool search --onlyvisible --name "^$(printf '%s' "$1" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$" 2>/dev/null); do
    FOUND_WINDOW=$id
  done
  focus_found_window
}
# focus_window <id>: the same for a window already found (a modal box over
# it keeps it from the focus until the box is gone).
focus_window() {
  FOUND_WINDOW=$1
  focus_found_window
}
# focus_new_window: the newest visible window not shot before (a message
# box whose title the platform chooses).
focus_new_window() {
  local id
  FOUND_WINDOW=""
  for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    seen "$id" || FOUND_WINDOW=$id
  done
  focus_found_window
}

# shot <file>: the found window with its frame.
shot() {
  sleep "${SHOT_SETTLE:-0.5}"
  SEEN_WINDOWS+=("$FOUND_WINDOW")
  import -window "$FOUND_WINDOW" -frame "$1"
  echo "   saved $1"
}

# scripted_run <image name> <unit pid> <shot prefix> <choose port> <open about>
# The shots are <shot prefix><step>-<name><SHOT_SUFFIX>.png (SHOT_SUFFIX: none unless set).
# The two last are the names of functions: <choose port> types or picks the
# simulated unit's port in the Setup dialog, which has the focus; <open
# about> opens the About box over the main window ($MAIN_WINDOW).
scripted_run() {
  local image=$1 unit_pid=$2 prefix=$3 choose_port=$4 open_about=$5
  wait_for "the main window" focus_window_titled "$image"
  MAIN_WINDOW=$FOUND_WINDOW
  shot "${prefix}1-main-window${SHOT_SUFFIX:-}.png"
  echo "== Start"
  xdotool key space
  wait_for "the wizard" focus_window_titled "Connecting the Unit to the PC"
  shot "${prefix}2-wizard${SHOT_SUFFIX:-}.png"
  echo "== Next"
  xdotool key Return
  wait_for "the Setup dialog" focus_window_titled "Setup"
  "$choose_port"
  shot "${prefix}3-setup${SHOT_SUFFIX:-}.png"
  echo "== OK"
  xdotool key Return
  wait_for "the boot method question" focus_new_window
  shot "${prefix}4-boot-question${SHOT_SUFFIX:-}.png"
  echo "== Yes: the boot method"
  xdotool key Return
  wait_for "the reset prompt" focus_window_titled "User Intervention Required..."
  shot "${prefix}5-reset-prompt${SHOT_SUFFIX:-}.png"
  echo "== The operator resets the unit"
  kill -USR1 "$unit_pid"
  wait_for "the end of the run" focus_new_window
  shot "${prefix}6-success${SHOT_SUFFIX:-}.png"
  xdotool key Return
  echo "== The About box"
  wait_for "the main window" focus_window "$MAIN_WINDOW"
  "$open_about"
  wait_for "the About box" focus_window_titled "About $image"
  shot "${prefix}${ABOUT_SHOT:-7}-about${SHOT_SUFFIX:-}.png"
  xdotool key Return
}
