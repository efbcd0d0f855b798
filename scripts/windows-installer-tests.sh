#!/bin/bash
# The Windows installer under Wine, in a fresh prefix on a virtual display:
# builds it (scripts/build-installer.sh), tests signing
# (scripts/windows-signing-tests.sh), checks the programs' resources
# (tests/packaging/check_pe_resources.py), then for the operator alone and
# for all users:
#   - a silent install over an older copy of the same image replaces it in
#     place, keeping a file the operator left in the folder; a copy of
#     another image installs beside it;
#   - the "Installed apps" entry and its values;
#   - the Start-menu entry starts the window titled with the image's name,
#     and an installer run meanwhile refuses and changes nothing;
#   - the installed morvex-flash-cli.exe programs the simulated unit on COM5;
#   - silent uninstalls remove every file, shortcut and registry key the
#     installers made, leaving the operator's file and nothing else.
# The older copy and the other image's copy are the same programs packed
# under another version or image name (make_installer): what they test is
# the installer's own bookkeeping.
# Environment: MORVEX_UNITSIM (as scripts/windows-tests.sh), KEEP=1 keeps
# the work folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
if [ "${1:-}" != "--inside" ]; then
  source scripts/lib/packages.sh
  ensure_packages nsis python3-pefile xvfb xauth xdotool
  ./scripts/build-installer.sh
  ./scripts/windows-signing-tests.sh
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside
fi
source scripts/lib/installer.sh
T0=$(date +%s)

BUILD=$ROOT/build-win64
source scripts/lib/version.sh
VERSION=$(project_version)
IMAGE=$(sed -n 's/^MORVEX_IMAGE_NAME:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
SETUP=$ROOT/dist/morvex-flash-$VERSION-$(image_id "$IMAGE")-setup.exe
OTHER_IMAGE="7300 V1.0"
UNITSIM=${MORVEX_UNITSIM:-$ROOT/build/tools/unitsim/unitsim}
[ -x "$UNITSIM" ] || UNITSIM=$ROOT/build-winlinux/tools/unitsim/unitsim
[ -x "$UNITSIM" ] || {
  echo "windows-installer-tests: no simulated unit (set MORVEX_UNITSIM)" >&2
  exit 1
}

WORK=$(mktemp -d /tmp/installer-wine.XXXXXX)
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all
# No desktop entries in the Linux home for the shortcuts the installer makes.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
cleanup() {
  end_tracked_processes
  wineserver -k >/dev/null 2>&1 || true
  if [ "${KEEP:-0}" = 1 ]; then echo "Work folder kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap "exit 130" INT TERM

step() { echo "== $* (at $(($(date +%s) - T0)) s)"; }
source scripts/lib/checks.sh
source scripts/lib/common.sh
source scripts/lib/simunit.sh

check "programs' icon, version record and manifest" \
  /usr/bin/python3 tests/packaging/check_pe_resources.py "$VERSION" \
  "$BUILD/dist/morvex-flash-$VERSION-win64/morvex-flash.exe" "$BUILD/dist/morvex-flash-$VERSION-win64/morvex-flash-cli.exe"
make_installer "$BUILD" 0.9 "$IMAGE" "$WORK/older-setup.exe" quick
make_installer "$BUILD" "$VERSION" "$OTHER_IMAGE" "$WORK/other-setup.exe" quick

step "A fresh Wine prefix"
DISPLAY='' wineboot -i >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$WORK/unit" /f >/dev/null 2>&1
wineserver -w
C=$WINEPREFIX/drive_c
WINE_USER=$(wine cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
# What the prefix holds before any installation (Wine's own folder and the
# temporary files aside), and its registry's lines that name us.
snapshot() { # snapshot FILE
  wineserver -w
  (cd "$C" && find . -path ./windows -prune -o -path '*/Temp' -prune -o -print | LC_ALL=C sort) >"$1"
  grep -ih morvex "$WINEPREFIX"/*.reg | LC_ALL=C sort >>"$1" || true
}
snapshot "$WORK/before.txt"

run_setup() { # run_setup NAME EXE [options...]: exit code in SETUP_CODE
  local name=$1 exe=$2
  shift 2
  SETUP_CODE=0
  wine "$exe" "$@" >"$WORK/$name.log" 2>&1 || SETUP_CODE=$?
}
KEY_VALUES=""
read_key() { # read_key ROOT IMAGE: the values of the image's Uninstall key into KEY_VALUES
  local key
  key="$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MorvexFlash-$(image_id "$2")"
  KEY_VALUES=""
  if KEY_VALUES=$(wine reg query "$key" 2>/dev/null); then KEY_VALUES=$(tr -d '\r' <<<"$KEY_VALUES"); else KEY_VALUES=""; fi
}
value_of() { # value_of NAME: one value of KEY_VALUES
  printf '%s\n' "$KEY_VALUES" | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
has_value() { [ "$(value_of "$1")" = "$2" ]; }
unix_path() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }
all_installed() { # all_installed FOLDER: every staged file, and the uninstaller
  local f
  while read -r f; do [ -f "$1/$f" ] || {
    echo "missing $1/$f" >&2
    return 1
  }; done <"$BUILD/installer/files.txt"
  [ -f "$1/uninstall.exe" ]
}
shortcut_in_start_menu() { # shortcut_in_start_menu MODE NAME: the .lnk's path, if it is there
  local dirs=("$C/users/$WINE_USER/AppData/Roaming/Microsoft/Windows/Start Menu/Programs")
  # Wine 8 puts an all-users shortcut in the operator's own Start menu.
  [ "$1" = AllUsers ] && dirs=("$C/ProgramData/Microsoft/Windows/Start Menu/Programs" "${dirs[@]}")
  local d
  for d in "${dirs[@]}"; do
    [ -f "$d/Morvex Instruments/$2.lnk" ] && {
      echo "$d/Morvex Instruments/$2.lnk"
      return 0
    }
  done
  return 1
}
folder_state() { (cd "$1" && find . -printf '%p %s %T@\n' | LC_ALL=C sort); }
uninstall() { # uninstall '"C:\...\uninstall.exe" options': as "Installed apps" would
  local exe options
  exe=$(printf '%s' "$1" | sed -n 's/^"\([^"]*\)".*/\1/p')
  read -r -a options <<<"${1#\"$exe\"}"
  echo "   uninstalling: $1"
  wine "$exe" "${options[@]}" >>"$WORK/uninstall.log" 2>&1 || true
  # The uninstaller runs from a copy of itself in the temporary folder.
  wineserver -w
}
no_shortcuts() { # no_shortcuts MODE
  ! shortcut_in_start_menu "$1" "Flash Programmer $IMAGE" && ! shortcut_in_start_menu "$1" "Flash Programmer $IMAGE Command Prompt"
}
window_shown() { xdotool search --name "^$IMAGE\$"; }
window_gone() { ! window_shown; }
program_ended() { ! grep -qi '^morvex-flash.exe' <<<"$(wine tasklist 2>/dev/null)"; }

test_mode() { # test_mode CurrentUser|AllUsers ROOT
  local mode=$1 root=$2 option=() folder lnk appdir
  [ "$mode" = AllUsers ] && option=(/AllUsers)
  step "Installing for ${mode}"
  if [ "$mode" = CurrentUser ]; then
    # Over an older copy of the same image, and beside another image's copy.
    run_setup older "$WORK/older-setup.exe" /S "${option[@]}"
    check "$mode: older copy installed (exit 0)" test "$SETUP_CODE" = 0
    read_key "$root" "$IMAGE"
    folder=$(unix_path "$(value_of InstallLocation)")
    echo "notes" >"$folder/operator-notes.txt"
  fi
  run_setup setup "$SETUP" /S "${option[@]}"
  check "$mode: installed (exit 0)" test "$SETUP_CODE" = 0
  if [ "$mode" = CurrentUser ]; then
    run_setup other "$WORK/other-setup.exe" /S "${option[@]}"
    check "$mode: another image's copy installed beside it (exit 0)" test "$SETUP_CODE" = 0
  fi
  read_key "$root" "$IMAGE"
  appdir=$(value_of InstallLocation)
  if [ "$mode" = AllUsers ]; then
    check "$mode: in Program Files" test "$appdir" = "C:\\Program Files\\Morvex Flash Programmer $(image_id "$IMAGE")"
  else
    check "$mode: in the operator's programs" \
      test "$appdir" = "C:\\users\\$WINE_USER\\AppData\\Local\\Programs\\Morvex Flash Programmer $(image_id "$IMAGE")"
  fi
  if [ "$mode" = CurrentUser ]; then
    check "$mode: replaced in place, the same folder" test "$(unix_path "$appdir")" = "$folder"
  else
    folder=$(unix_path "$appdir")
    echo "notes" >"$folder/operator-notes.txt"
  fi
  check "$mode: DisplayName" has_value DisplayName "Morvex Flash Programmer $IMAGE"
  check "$mode: Publisher" has_value Publisher "Morvex Instruments"
  check "$mode: DisplayVersion is the newer" has_value DisplayVersion "$VERSION"
  check "$mode: DisplayIcon" has_value DisplayIcon "$appdir\\morvex-flash.exe,0"
  check "$mode: UninstallString" has_value UninstallString "\"$appdir\\uninstall.exe\" /$mode"
  check "$mode: QuietUninstallString" has_value QuietUninstallString "\"$appdir\\uninstall.exe\" /$mode /S"
  check "$mode: EstimatedSize in KB" test "$(($(value_of EstimatedSize)))" -gt 10000
  check "$mode: every file installed" all_installed "$folder"
  check "$mode: the operator's file kept" test -f "$folder/operator-notes.txt"
  if [ "$mode" = CurrentUser ]; then
    read_key "$root" "$OTHER_IMAGE"
    check "$mode: the other image's entry" has_value DisplayName "Morvex Flash Programmer $OTHER_IMAGE"
    check "$mode: the other image's files" all_installed "$(unix_path "$(value_of InstallLocation)")"
  fi
  check "$mode: command prompt entry" shortcut_in_start_menu "$mode" "Flash Programmer $IMAGE Command Prompt"

  step "The Start-menu entry for ${mode}"
  if lnk=$(shortcut_in_start_menu "$mode" "Flash Programmer $IMAGE"); then
    echo "ok   $mode: Start-menu entry"
    wine start /unix "$lnk" >"$WORK/app-$mode.log" 2>&1 &
    track_process $!
    check "$mode: the Start-menu entry opens the window \"$IMAGE\"" retry_for 60 window_shown
    folder_state "$folder" >"$WORK/running-before.txt"
    run_setup running "$SETUP" /S "${option[@]}"
    check "$mode: an installation over the running program refuses (exit 2)" test "$SETUP_CODE" = 2
    check "$mode: ... and changes no file" bash -c '[ "$(cat "$0")" = "$1" ]' "$WORK/running-before.txt" \
      "$(folder_state "$folder")"
    wine taskkill /IM morvex-flash.exe >/dev/null 2>&1 || true
    check "$mode: the window closes" retry_for 30 window_gone
    retry_for 30 program_ended || true
  else
    echo "FAIL $mode: Start-menu entry"
    FAILURES=$((FAILURES + 1))
  fi

  step "The installed command line for ${mode}"
  start_sim_unit "$WORK/unit" "$WORK/unit-$mode.log" --type 3
  local code=0
  (cd "$folder" && timeout 300 wine morvex-flash-cli.exe --port COM5) >"$WORK/cli-$mode.log" 2>&1 || code=$?
  stop_sim_unit
  check "$mode: the installed command line programs the unit (exit 0)" test "$code" = 0
  check "$mode: ... Unit Successfully Programmed!" grep -q 'Unit Successfully Programmed!' "$WORK/cli-$mode.log"

  step "Uninstalling for ${mode}"
  read_key "$root" "$IMAGE"
  uninstall "$(value_of QuietUninstallString)"
  read_key "$root" "$IMAGE"
  check "$mode: entry removed" test -z "$KEY_VALUES"
  check "$mode: only the operator's file is left" \
    test "$(cd "$folder" && find . | LC_ALL=C sort | tr '\n' ' ')" = ". ./operator-notes.txt "
  check "$mode: Start-menu entries removed" no_shortcuts "$mode"
  # The operator takes away the file; the other copy's uninstaller then
  # leaves the prefix as it was.
  rm -rf "$folder"
  if [ "$mode" = CurrentUser ]; then
    read_key "$root" "$OTHER_IMAGE"
    check "$mode: the other image's copy stays" test -n "$KEY_VALUES"
    uninstall "$(value_of QuietUninstallString)"
  fi
  snapshot "$WORK/after-$mode.txt"
  check "$mode: nothing else left (files, shortcuts, registry)" diff "$WORK/before.txt" "$WORK/after-$mode.txt"
}

test_mode CurrentUser HKCU
test_mode AllUsers HKLM

echo "== The installer under Wine: $(($(date +%s) - T0)) s after the build"
if [ "$FAILURES" -ne 0 ]; then
  echo "$FAILURES installer check(s) failed; logs:" >&2
  for f in "$WORK"/*.log; do
    echo "--- $f"
    cat "$f"
  done >&2
  exit 1
fi
echo "Installer tests passed."
