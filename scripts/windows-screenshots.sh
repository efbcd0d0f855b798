#!/bin/bash
# The window program under Wine on a virtual display: a scripted operator
# (xdotool key presses) goes through one whole run against the simulated
# unit on COM5 (boot method: the unit's firmware ignores the programmer's
# command, the operator's reset is a signal to the unit), then opens the
# window's system menu (Alt+Space) and its "About..." entry. A screenshot of
# each step goes to docs/screenshots/windows-*.png (SHOTS=<folder> chooses
# another). Needs scripts/build-windows.sh to have run, and xvfb, xdotool,
# openbox and imagemagick (scripts/install-deps.sh).
#
#   scripts/windows-screenshots.sh [SCALE]
# SCALE is the display scale in per cent, 100 (default), 150 or 200: Wine's
# screen resolution (LogPixels: 96 dots per inch at 100 %) is set in the
# prefix for the run and put back after; the shots then end in -SCALE
# (windows-1-main-window-200.png) and the virtual screen grows with them.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

SCALE=${1:-100}
case $SCALE in
  100 | 150 | 200) ;;
  --inside) SCALE=${2:-100} ;;
  *)
    echo "windows-screenshots: the scale is 100, 150 or 200 (per cent), not '$SCALE'" >&2
    exit 2
    ;;
esac
if [ "${1:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 $((1024 * SCALE / 100))x$((768 * SCALE / 100))x24" "$0" --inside "$SCALE"
fi

source scripts/lib/version.sh
VERSION=$(project_version)
APP=$ROOT/build-win64/dist/morvex-flash-$VERSION-win64
UNITSIM=${MORVEX_UNITSIM:-$ROOT/build/tools/unitsim/unitsim}
SHOTS=${SHOTS:-$ROOT/docs/screenshots}
IMAGE_NAME="4620 V2.5"
source scripts/lib/common.sh
source scripts/lib/scriptedrun.sh
source scripts/lib/simunit.sh
source scripts/lib/wine-ports.sh
wine_work_folder wine-gui
SUFFIX=""
[ "$SCALE" = 100 ] || SUFFIX=-$SCALE
before_cleanup() { [ "$SCALE" = 100 ] || set_screen_dpi 96; }
# The screen's resolution as Windows' display settings give it (96 dots per
# inch at 100 %); the programs read it when they start.
set_screen_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1 || true
}
mkdir -p "$SHOTS"
on_gave_up() { # what the screen showed when a wait gave up
  import -window root "$SHOTS/windows-gave-up.png" && echo "   the screen: $SHOTS/windows-gave-up.png" >&2
}

# The Setup dialog's Port box takes the COM port's name as typed.
type_com5() { xdotool type --delay 50 "COM5"; }
# The About box is the last entry of the window's system menu (Alt+Space),
# which gets a screenshot of its own.
open_about_from_system_menu() {
  xdotool key --window "$MAIN_WINDOW" alt+space
  sleep 1.5
  import -window root "$WORK/menu.png"
  convert "$WORK/menu.png" -trim +repage "$SHOTS/windows-7-system-menu$SUFFIX.png" # the black desktop cut away
  echo "   saved $SHOTS/windows-7-system-menu$SUFFIX.png"
  xdotool key Up Return
}

# A window manager for frames and the active window, with no key bindings
# of its own: Alt+Space is the program's (Wine's) system menu.
cat >"$WORK/openbox.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc"><keyboard></keyboard></openbox_config>
XML
start_window_manager --config-file "$WORK/openbox.xml"
[ "$SCALE" = 100 ] || set_screen_dpi $((96 * SCALE / 100))
map_com_ports COM5="$WORK/unit"
start_sim_unit "$WORK/unit" "$WORK/unit.log" --type 3 --boot-only

echo "== Starting morvex-flash.exe under Wine"
(cd "$APP" && exec wine morvex-flash.exe) >"$WORK/app.log" 2>&1 &
track_process $!
SHOT_SETTLE=0.7 ABOUT_SHOT=8 SHOT_SUFFIX=$SUFFIX scripted_run "$IMAGE_NAME" "$UNIT_PID" "$SHOTS/windows-" type_com5 open_about_from_system_menu
echo "== Done"
