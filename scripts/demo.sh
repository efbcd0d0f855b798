#!/bin/bash
# The README's first command: installs what is needed, builds the programmer
# and the simulated unit, starts the simulated unit on a virtual serial port
# and then the programmer, so that you can press Start and program it.
#
#   ./scripts/demo.sh          the demo on your desktop
#   ./scripts/demo.sh --boot   the unit's firmware ignores the programmer's
#                              command, so the run takes the boot method and
#                              asks you to reset the unit (press Enter here)
#
# Without a display the programmer runs on a virtual display (Xvfb) instead:
# a scripted operator goes through one whole run and a screenshot of every
# step is saved (SHOTS=<folder> chooses where).
set -euo pipefail
# The programmer takes the virtual-port folder by absolute path only.
if [ -n "${MORVEX_PORT_DIR:-}" ]; then MORVEX_PORT_DIR=$(realpath -m "$MORVEX_PORT_DIR"); fi
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR="${BUILD_DIR:-build}"
JOBS="${JOBS:-2}"
# The folder of virtual ports. The programmer reads it only because
# MORVEX_PORT_DIR names it, and only while it is yours and nobody else can
# write to it (/tmp is every user's).
PORT_DIR="${MORVEX_PORT_DIR:-/tmp/morvex-ports}"
LINK="$PORT_DIR/simulated-unit"
PROGRAMMER="$ROOT/$BUILD_DIR/src/app/morvex-flash"
UNITSIM="$ROOT/$BUILD_DIR/tools/unitsim/unitsim"
export MORVEX_PORT_DIR="$PORT_DIR"

source "$ROOT/scripts/lib/common.sh"
source "$ROOT/scripts/lib/scriptedrun.sh"
source "$ROOT/scripts/lib/simunit.sh"
trap end_tracked_processes EXIT
trap "exit 130" INT TERM

start_unit() { # start_unit [unitsim options...]
  echo "== Starting the simulated unit (unit type $UNIT_TYPE) on $LINK"
  # shellcheck disable=SC2174 # only the folder itself needs to be private
  mkdir -p -m 0700 "$PORT_DIR"
  if [ "$(stat -c %u "$PORT_DIR")" != "$(id -u)" ]; then
    echo "$PORT_DIR belongs to another user, so the programmer would not offer its ports." >&2
    echo "Name a folder of your own: MORVEX_PORT_DIR=\$HOME/.morvex-ports $0" >&2
    exit 1
  fi
  chmod 0700 "$PORT_DIR"
  start_sim_unit "$LINK" - --type "$UNIT_TYPE" "$@"
}

# ---------------------------------------------------------------- scripted run
# Runs inside xvfb-run: a window manager, the unit, the programmer, and the
# operator of scripts/lib/scriptedrun.sh, with a screenshot of every step.

# The simulated unit's port sorts first in the Port list ("/tmp/..." before
# COM and tty names).
choose_first_port() { xdotool key Home; }
# The About box is in the window's context menu (a right click).
open_about_from_context_menu() {
  xdotool mousemove --window "$MAIN_WINDOW" 20 70 click 3
  sleep 0.5
  xdotool key Down Return
}

scripted_demo() {
  SHOTS=$1
  mkdir -p "$SHOTS"
  start_window_manager
  start_unit --boot-only
  echo "== Starting the programmer"
  "$PROGRAMMER" &
  track_process $!
  scripted_run "$IMAGE_NAME" "$UNIT_PID" "$SHOTS/" choose_first_port open_about_from_context_menu
  echo "== Done: the screenshots are in $SHOTS"
}

# ---------------------------------------------------------------- main

if [ "${1:-}" = "--scripted-run" ]; then
  UNIT_TYPE=$2 IMAGE_NAME=$3
  scripted_demo "$4"
  exit 0
fi

echo "== Installing what the build needs"
./scripts/install-deps.sh
echo "== Building the programmer and the simulated unit in $BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEX_BUILD_APP=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS" --target morvex-flash unitsim
UNIT_TYPE=$(sed -n 's/^MORVEX_IMAGE_UNIT_TYPE:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")
IMAGE_NAME=$(sed -n 's/^MORVEX_IMAGE_NAME:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  SHOTS="${SHOTS:-$ROOT/$BUILD_DIR/demo-screenshots}"
  cat <<TEXT

== No display: DISPLAY is not set, so the programmer's window cannot be shown here.
   The demo runs it on a virtual display (Xvfb) instead: a scripted operator
   presses Start, Next, picks the simulated unit's port, presses OK, answers
   the boot-method question, resets the unit when asked, and opens the About
   box. A screenshot of every step is saved in
     $SHOTS
   Open them with any picture viewer. To watch the real thing, run this
   command on a desktop (or over ssh -X).

TEXT
  xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/demo.sh" --scripted-run \
    "$UNIT_TYPE" "$IMAGE_NAME" "$SHOTS"
  exit 0
fi

start_unit ${1:+$([ "$1" = "--boot" ] && echo --boot-only)}
echo "== Starting the programmer"
"$PROGRAMMER" &
PROGRAMMER_PID=$!
track_process "$PROGRAMMER_PID"
cat <<TEXT

In the programmer: press Start, then Next; in the Setup dialog pick
  $LINK
in the Port list and press OK. The simulated unit is then programmed and the
programmer reports "Unit Successfully Programmed!". Right-click the window for
the About box. When the programmer asks you to "Reset the Unit", press Enter
here. Close the programmer's window to end the demo.

TEXT
# Enter in this terminal is the operator's reset of the simulated unit.
while kill -0 "$PROGRAMMER_PID" 2>/dev/null; do
  if [ -t 0 ] && read -r -t 1 _; then
    kill -USR1 "$UNIT_PID" && echo "The unit was reset: it starts in its boot loader."
  elif [ ! -t 0 ]; then
    wait "$PROGRAMMER_PID" || true
  fi
done
