#!/bin/bash
# How soon the window program answers a close request while the unit
# erases: a scripted operator (xdotool) starts a run by the user method
# against the simulated unit, whose erase takes ERASE_MS (default 4000); a
# close request (the window manager's Close, on Alt+F4) goes to the main window DELAY_MS (default 1200)
# into the erase, and the time until the program's answer (its "Programming
# in Progress" box) appears is printed. Prints figures; not a test.
#
#   bench/windows/close-during-erase.sh [wine|linux] [ROUNDS]   (default: wine, 2)
# wine: the zip folder of scripts/build-windows.sh under Wine; linux:
# build/src/app/morvex-flash. Needs xvfb, xdotool and openbox.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
if [ "${1:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$@"
fi
shift
PLATFORM=${1:-wine}
ROUNDS=${2:-2}
ERASE_MS=${ERASE_MS:-4000}
DELAY_MS=${DELAY_MS:-1200}
source scripts/lib/version.sh
source scripts/lib/common.sh
source scripts/lib/simunit.sh
source scripts/lib/wine-ports.sh
VERSION=$(project_version)
UNITSIM=$ROOT/build/tools/unitsim/unitsim
IMAGE_NAME="4620 V2.5"
wine_work_folder close
# The answer is timed by polling for it: poll often.
export POLL_SECONDS=0.02

case $PLATFORM in
  wine)
    map_com_ports COM5="$WORK/unit"
    PORT=COM5
    start_app() { (cd "$ROOT/build-win64/dist/morvex-flash-$VERSION-win64" && exec wine morvex-flash.exe); }
    ;;
  linux)
    # The Port list offers the links of a private folder that MORVEX_PORT_DIR names.
    mkdir -m 700 "$WORK/ports"
    ln -s "$WORK/unit" "$WORK/ports/unit"
    export MORVEX_PORT_DIR=$WORK/ports
    PORT=$WORK/ports/unit
    start_app() { exec "$ROOT/build/src/app/morvex-flash" -platform xcb; }
    ;;
  *)
    echo "close-during-erase: wine or linux, not $PLATFORM" >&2
    exit 2
    ;;
esac

now_ms() { date +%s%3N; }
active_is() { [ "$(xdotool getactivewindow getwindowname)" = "$1" ]; }
active_is_not() {
  local id
  id=$(xdotool getactivewindow) && [ "$id" != "$1" ]
}

cat >"$WORK/openbox.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc"><keyboard>
  <keybind key="A-F4"><action name="Close"/></keybind>
</keyboard></openbox_config>
XML
openbox --config-file "$WORK/openbox.xml" >/dev/null 2>&1 &
track_process $!

for round in $(seq "$ROUNDS"); do
  start_sim_unit "$WORK/unit" "$WORK/unit.log" --type 3 --erase-ms "$ERASE_MS" --verbose
  start_app >"$WORK/app.log" 2>&1 &
  APP_PID=$!
  track_process "$APP_PID"
  wait_for "the main window" active_is "$IMAGE_NAME"
  MAIN=$(xdotool getactivewindow)
  xdotool key space
  wait_for "the wizard" active_is "Connecting the Unit to the PC"
  xdotool key Return
  wait_for "the Setup dialog" active_is "Setup"
  xdotool type --delay 20 "$PORT"
  xdotool key Return
  wait_for "the erase" grep -q "erase length" "$WORK/unit.log"
  sleep "$(awk "BEGIN { print $DELAY_MS / 1000 }")"
  xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
  SENT=$(now_ms)
  xdotool key alt+F4
  wait_for "the answer to the close request" active_is_not "$MAIN"
  ANSWERED=$(now_ms)
  echo "$PLATFORM round $round: close request ${DELAY_MS} ms into a ${ERASE_MS} ms erase answered after" \
    "$(awk "BEGIN { printf \"%.2f\", ($ANSWERED - $SENT) / 1000 }") s ($(xdotool getactivewindow getwindowname))"
  kill "$APP_PID" "$UNIT_PID" 2>/dev/null || true
  wait "$APP_PID" "$UNIT_PID" 2>/dev/null || true
  # The Windows program outlives its loader: the server ends it.
  [ "$PLATFORM" = wine ] && map_com_ports COM5="$WORK/unit"
done
