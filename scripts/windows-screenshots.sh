#!/bin/bash
# The window program under Wine on a virtual display: a scripted operator
# (xdotool key presses) goes through one whole run against the simulated
# unit on COM5 (boot method: the unit's firmware ignores the programmer's
# command, the operator's reset is a signal to the unit), then opens the
# window's system menu (Alt+Space) and its "About..." entry. A screenshot of
# each step goes to docs/screenshots/windows-*.png (SHOTS=<folder> chooses
# another). Needs scripts/build-windows.sh to have run, and xvfb, xdotool,
# openbox and imagemagick (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

if [ "${1:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside
fi

. scripts/lib/version.sh
VERSION=$(project_version)
APP=$ROOT/build-win64/dist/morvex-flash-$VERSION-win64
UNITSIM=${MORVEX_UNITSIM:-$ROOT/build/tools/unitsim/unitsim}
SHOTS=${SHOTS:-$ROOT/docs/screenshots}
IMAGE_NAME="4620 V2.5"
source scripts/wine-ports.sh
WORK=$(mktemp -d /tmp/morvex-wine-gui.XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$SHOTS"

wait_for() {  # wait_for <what> <command...>: retries the command for 60 s
  local what=$1; shift
  for _ in $(seq 600); do "$@" >/dev/null 2>&1 && return; sleep 0.1; done
  echo "Gave up waiting for $what (active: $(xdotool getactivewindow getwindowname 2>/dev/null))." >&2
  import -window root "$WORK/gave-up.png" && cp "$WORK/gave-up.png" "$SHOTS/windows-gave-up.png"
  exit 1
}
active_is() { [ "$(xdotool getactivewindow getwindowname)" = "$1" ]; }
active_is_new() {
  local id; id=$(xdotool getactivewindow) || return 1
  for seen in "${SEEN[@]}"; do [ "$id" = "$seen" ] && return 1; done
  return 0
}
shot() {  # shot <name>: the active window with its frame
  sleep 0.7
  local id; id=$(xdotool getactivewindow)
  SEEN+=("$id")
  import -window "$id" -frame "$SHOTS/windows-$1.png"
  echo "   saved $SHOTS/windows-$1.png"
}

# A window manager for frames and the active window, with no key bindings
# of its own: Alt+Space is the program's (Wine's) system menu.
cat > "$WORK/openbox.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc"><keyboard></keyboard></openbox_config>
XML
openbox --config-file "$WORK/openbox.xml" >/dev/null 2>&1 &
PIDS+=($!)
map_com_ports COM5="$WORK/unit"
"$UNITSIM" --type 3 --boot-only --link "$WORK/unit" </dev/null >"$WORK/unit.log" 2>&1 &
UNIT_PID=$!
PIDS+=("$UNIT_PID")
wait_for "the simulated unit" test -e "$WORK/unit"

echo "== Starting morvex-flash.exe under Wine"
(cd "$APP" && exec wine morvex-flash.exe) >"$WORK/app.log" 2>&1 &
PIDS+=($!)
SEEN=()
wait_for "the main window" active_is "$IMAGE_NAME"
MAIN=$(xdotool getactivewindow)
shot 1-main-window
xdotool key space
wait_for "the wizard" active_is "Connecting the Unit to the PC"
shot 2-wizard
xdotool key Return
wait_for "the Setup dialog" active_is "Setup"
xdotool type --delay 50 "COM5"
shot 3-setup
xdotool key Return
wait_for "the boot method question" active_is_new
shot 4-boot-question
xdotool key Return
wait_for "the reset prompt" active_is "User Intervention Required..."
shot 5-reset-prompt
kill -USR1 "$UNIT_PID"
wait_for "the end of the run" active_is_new
shot 6-success
xdotool key Return
wait_for "the main window" active_is "$IMAGE_NAME"
echo "== The system menu (Alt+Space) and its About... entry"
xdotool key --window "$MAIN" alt+space
sleep 1.5
import -window root "$WORK/menu.png"
convert "$WORK/menu.png" -trim +repage "$SHOTS/windows-7-system-menu.png" # the black desktop cut away
echo "   saved $SHOTS/windows-7-system-menu.png"
# The last entry of the menu.
xdotool key Up Return
wait_for "the About box" active_is "About $IMAGE_NAME"
shot 8-about
xdotool key Return
echo "== Done"
