#!/bin/bash
# The Windows programs under Wine: cross-builds them (scripts/build-windows.sh,
# with the Windows backend's tests), maps COM ports to pseudo-terminals and
# runs
#   1. the Win32 serial backend's tests on COM7, whose far end is
#      tests/win32/linepeer.py;
#   2. whole runs of the packed morvex-flash-cli.exe on COM5 against the
#      simulated unit (tools/unitsim, built for Linux): the user method, the
#      boot method, and a failing erase; the unit's flash is compared with
#      the image after each successful run;
#   3. the installer (scripts/windows-installer-tests.sh).
# Environment:
#   MORVEX_UNITSIM   the simulated unit's program (default: build/tools/unitsim/unitsim,
#                    else built in build-winlinux/)
#   KEEP=1           keep the work folder (logs, flash dumps)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
T0=$(date +%s)

# Without the prebuilt toolchain (it lives outside the repository) there is
# nothing to build with: say so plainly rather than fail every other test.
TARBALL=${MORVEX_WIN_TOOLCHAIN_TARBALL:-$ROOT/../shared/toolchains/windows/morvex-win64-toolchain.tar.xz}
if [ ! -f "$TARBALL" ] && [ ! -f "$ROOT/.toolchain/morvex-win64/mingw-w64.cmake" ]; then
  echo "== SKIPPED the Windows tests: no toolchain tarball at $TARBALL (set MORVEX_WIN_TOOLCHAIN_TARBALL)"
  exit 0
fi

MORVEX_WIN_TESTS=1 ./scripts/build-windows.sh
VERSION=$(sed -n 's/^project(MorvexFlashProgrammer VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
BUILD=$ROOT/build-win64
APP=$BUILD/dist/morvex-flash-$VERSION-win64
PREFIX=$ROOT/.toolchain/morvex-win64
T_BUILD=$(( $(date +%s) - T0 ))

UNITSIM=${MORVEX_UNITSIM:-$ROOT/build/tools/unitsim/unitsim}
if [ ! -x "$UNITSIM" ]; then
  cmake -S . -B build-winlinux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEX_BUILD_BENCH=OFF >/dev/null
  cmake --build build-winlinux -j"${JOBS:-2}" --target unitsim
  UNITSIM=$ROOT/build-winlinux/tools/unitsim/unitsim
fi

export WINEPREFIX=${WINEPREFIX:-$ROOT/.toolchain/wineprefix}
export WINEDEBUG=-all
WORK=$(mktemp -d /tmp/morvex-wine.XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  if [ "${KEEP:-0}" = 1 ]; then echo "Work folder kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap "exit 130" INT TERM

FAILURES=0
check() {  # check <description> <command...>
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; FAILURES=$((FAILURES + 1)); fi
}

wait_for_link() {  # wait_for_link PATH
  for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.1; done
  echo "no port appeared at $1" >&2
  return 1
}

# The far ends, each behind a fixed link that Wine maps to a COM port. The
# ports are read when the Wine server starts, so it is restarted after.
python3 tests/win32/linepeer.py "$WORK/peer" > "$WORK/peer.log" 2>&1 &
PIDS+=($!)
wait_for_link "$WORK/peer"
wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$WORK/peer" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$WORK/unit" /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
# One server for every program below, with its chatter kept out of the log.
wineserver -p >/dev/null 2>&1

# ---------------------------------------------------------------- backend
echo "== The Win32 serial backend on COM7 (Wine, pseudo-terminal)"
T1=$(date +%s)
check "backend tests" "$PREFIX/libexec/wine-run" "$BUILD/tests/win32/serial_win32_tests.exe" --port=COM7 --wine \
  --gtest_brief=1
T_BACKEND=$(( $(date +%s) - T1 ))

# ---------------------------------------------------------------- whole runs
PLAIN=$BUILD/firmware/demo-4620.bin
# The 4620's flash area: 0x7800 bytes from 0x800.
flash_holds_image() {  # flash_holds_image DUMP
  python3 - "$1" "$PLAIN" <<'EOF'
import sys
flash, plain = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
start, end = 0x800, 0x800 + 0x7800
sys.exit(0 if len(flash) >= end and len(plain) >= end and flash[start:end] == plain[start:end] else 1)
EOF
}
flash_is_erased() {  # flash_is_erased DUMP
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); sys.exit(0 if d and d == b"\xff" * len(d) else 1)' "$1"
}

UNIT_PID=""
start_unit() {  # start_unit NAME [unitsim options...]
  local name=$1; shift
  rm -f "$WORK/unit"
  "$UNITSIM" --type 3 --link "$WORK/unit" --flash-dumps "$WORK/$name" "$@" </dev/null >"$WORK/$name-unit.log" 2>&1 &
  UNIT_PID=$!
  PIDS+=("$UNIT_PID")
  wait_for_link "$WORK/unit"
}
stop_unit() {  # writes the final flash dump
  kill -TERM "$UNIT_PID" 2>/dev/null || true
  wait "$UNIT_PID" 2>/dev/null || true
}
CLI_CODE=0
run_cli() {  # run_cli NAME [options...]: output in $WORK/NAME.out, exit code in CLI_CODE
  local name=$1; shift
  CLI_CODE=0
  (cd "$APP" && timeout 300 wine morvex-flash-cli.exe "$@") >"$WORK/$name.out" 2>&1 || CLI_CODE=$?
  tr -d '\r' < "$WORK/$name.out" > "$WORK/$name.txt"
  echo "   morvex-flash-cli.exe $*: exit $CLI_CODE, last line: $(tail -n 1 "$WORK/$name.txt")"
}

echo "== morvex-flash-cli.exe on COM5 against the simulated unit"
T2=$(date +%s)
start_unit user
run_cli user --port COM5 --log 'Z:'"$WORK"'/runs.jsonl'
stop_unit
check "user method: exit 0" test "$CLI_CODE" = 0
check "user method: programmed and verified" grep -qx 'Unit Successfully Programmed!' "$WORK/user.txt"
check "user method: flash holds the image" flash_holds_image "$WORK/user-final.bin"
check "user method: run log line" grep -q '"result":"success"' "$WORK/runs.jsonl"

start_unit boot --boot-only --reset-after 0
run_cli boot --port COM5 --yes
stop_unit
check "boot method: exit 0" test "$CLI_CODE" = 0
check "boot method: connected by the boot method" grep -q '^connect-boot: ' "$WORK/boot.txt"
check "boot method: flash holds the image" flash_holds_image "$WORK/boot-final.bin"

start_unit erase --fault 'wrong@erase=%'
run_cli erase --port COM5
stop_unit
check "failing erase: exit 8" test "$CLI_CODE" = 8
check "failing erase: its message" grep -q 'Erase Failed: Device Failure' "$WORK/erase.txt"
check "failing erase: nothing programmed" flash_is_erased "$WORK/erase-final.bin"

run_cli missing --port COM9
check "missing port: exit 4" test "$CLI_CODE" = 4
check "missing port: the Windows error and advice" \
  grep -q 'Unable to open com port (win error code: 2)' "$WORK/missing.txt"
T_RUNS=$(( $(date +%s) - T2 ))

echo "== Windows under Wine: build ${T_BUILD} s, backend tests ${T_BACKEND} s, command-line runs ${T_RUNS} s," \
  "in all $(( $(date +%s) - T0 )) s"
if [ "$FAILURES" -ne 0 ]; then
  echo "$FAILURES Windows check(s) failed; outputs:" >&2
  for f in "$WORK"/*.txt "$WORK"/*-unit.log "$WORK/peer.log"; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done >&2
  exit 1
fi
echo "Windows tests passed."
# The installer, in a Wine prefix of its own.
MORVEX_WIN_TESTS=1 MORVEX_UNITSIM="$UNITSIM" ./scripts/windows-installer-tests.sh
