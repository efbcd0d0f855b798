#!/bin/bash
# The Windows programs under Wine: cross-builds them (scripts/build-windows.sh,
# with the Windows backend's tests), maps COM ports to pseudo-terminals and
# runs
#   1. the Win32 serial backend's tests on COM7, whose far end is
#      tests/win32/linepeer.py: among them the wait hook running while a
#      read waits (and a hook that raises cancelling the pending read), a
#      write that has left before the rate changes, and time-outs that
#      reach the driver only when they change;
#   2. whole runs of the packed morvex-flash-cli.exe on COM5 against the
#      simulated unit (tools/unitsim, built for Linux): the user method, the
#      boot method, a failing erase, and a gang of two units on COM5 and
#      COM6; the units' flash is compared with the image after each
#      successful run;
#   3. the command line's Windows parts: the run log (a Unicode folder, a
#      torn last line, three programs appending 200 records each at once, a
#      log that cannot be opened), --list-ports and the FTDI latency warning
#      from adapters' device keys written into the prefix's registry (and
#      removed again), and the console closed in the middle of a run.
#   4. the signing and the installer (scripts/windows-installer-tests.sh).
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
source scripts/lib/version.sh
VERSION=$(project_version)
BUILD=$ROOT/build-win64
APP=$BUILD/dist/morvex-flash-$VERSION-win64
PREFIX=$ROOT/.toolchain/morvex-win64
T_BUILD=$(($(date +%s) - T0))

UNITSIM=${MORVEX_UNITSIM:-$ROOT/build/tools/unitsim/unitsim}
if [ ! -x "$UNITSIM" ]; then
  cmake -S . -B build-winlinux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEX_BUILD_BENCH=OFF >/dev/null
  cmake --build build-winlinux -j"${JOBS:-2}" --target unitsim
  UNITSIM=$ROOT/build-winlinux/tools/unitsim/unitsim
fi

source scripts/lib/checks.sh
source scripts/lib/common.sh
source scripts/lib/simunit.sh
source scripts/lib/wine-ports.sh
# Wine converts command lines from the locale's character set: UTF-8, so
# that a log in a folder named "Jürgen" reaches the program as it is.
export LC_ALL=C.UTF-8
ADAPTER_KEYS=""
before_cleanup() {
  if [ -n "$ADAPTER_KEYS" ]; then wine regedit /s "$ADAPTER_KEYS" >/dev/null 2>&1 || true; fi
}
wine_work_folder wine
trap "exit 130" INT TERM

# The far ends, each behind a fixed link that Wine maps to a COM port.
python3 tests/win32/linepeer.py "$WORK/peer" >"$WORK/peer.log" 2>&1 &
track_process $!
WAIT_SECONDS=10 wait_for "the line peer at $WORK/peer" test -e "$WORK/peer"
map_com_ports COM7="$WORK/peer" COM5="$WORK/unit" COM6="$WORK/unit2"

# ---------------------------------------------------------------- backend
echo "== The Win32 serial backend on COM7 (Wine, pseudo-terminal)"
T1=$(date +%s)
check "backend tests" "$PREFIX/libexec/wine-run" "$BUILD/tests/win32/serial_win32_tests.exe" --port=COM7 --wine \
  --gtest_brief=1
T_BACKEND=$(($(date +%s) - T1))

# ---------------------------------------------------------------- whole runs
PLAIN=$BUILD/firmware/demo-4620.bin
# The 4620's flash area: 0x7800 bytes from 0x800.
flash_holds_image() { # flash_holds_image DUMP
  python3 - "$1" "$PLAIN" <<'EOF'
import sys
flash, plain = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
start, end = 0x800, 0x800 + 0x7800
sys.exit(0 if len(flash) >= end and len(plain) >= end and flash[start:end] == plain[start:end] else 1)
EOF
}
flash_is_erased() { # flash_is_erased DUMP
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); sys.exit(0 if d and d == b"\xff" * len(d) else 1)' "$1"
}

start_unit() { # start_unit NAME [unitsim options...]: on COM5, or on UNIT_LINK's port
  local name=$1
  shift
  start_sim_unit "${UNIT_LINK:-$WORK/unit}" "$WORK/$name-unit.log" --type 3 --flash-dumps "$WORK/$name" "$@"
}
CLI_CODE=0
run_cli() { # run_cli NAME [options...]: output in $WORK/NAME.out, exit code in CLI_CODE
  local name=$1
  shift
  CLI_CODE=0
  (cd "$APP" && timeout 300 wine morvex-flash-cli.exe "$@") >"$WORK/$name.out" 2>&1 || CLI_CODE=$?
  tr -d '\r' <"$WORK/$name.out" >"$WORK/$name.txt"
  echo "   morvex-flash-cli.exe $*: exit $CLI_CODE, last line: $(tail -n 1 "$WORK/$name.txt")"
}

echo "== morvex-flash-cli.exe on COM5 against the simulated unit"
T2=$(date +%s)
start_unit user
run_cli user --port COM5 --log 'Z:'"$WORK"'/runs.jsonl'
stop_sim_unit
check "user method: exit 0" test "$CLI_CODE" = 0
check "user method: programmed and verified" grep -qx 'Unit Successfully Programmed!' "$WORK/user.txt"
check "user method: flash holds the image" flash_holds_image "$WORK/user-final.bin"
check "user method: run log line" grep -q '"result":"success"' "$WORK/runs.jsonl"

start_unit boot --boot-only --reset-after 0
run_cli boot --port COM5 --yes
stop_sim_unit
check "boot method: exit 0" test "$CLI_CODE" = 0
check "boot method: connected by the boot method" grep -q '^connect-boot: ' "$WORK/boot.txt"
check "boot method: flash holds the image" flash_holds_image "$WORK/boot-final.bin"

start_unit erase --fault 'wrong@erase=%'
run_cli erase --port COM5
stop_sim_unit
check "failing erase: exit 8" test "$CLI_CODE" = 8
check "failing erase: its message" grep -q 'Erase Failed: Device Failure' "$WORK/erase.txt"
check "failing erase: nothing programmed" flash_is_erased "$WORK/erase-final.bin"

# A gang of two: a child program per port (its own process group, so that
# Ctrl-Break reaches it alone), both units programmed, a record for each.
UNIT_LINK=$WORK/unit2 start_unit gang2
GANG2_PID=$UNIT_PID
start_unit gang1
run_cli gang --port COM5 --port COM6 --yes --log 'Z:'"$WORK"'/gang.jsonl'
stop_sim_unit
UNIT_PID=$GANG2_PID stop_sim_unit
check "gang of two: exit 0" test "$CLI_CODE" = 0
check "gang of two: COM5's flash holds the image" flash_holds_image "$WORK/gang1-final.bin"
check "gang of two: COM6's flash holds the image" flash_holds_image "$WORK/gang2-final.bin"
check "gang of two: a record for each unit" test "$(grep -c '"result":"success"' "$WORK/gang.jsonl")" = 2
check "gang of two: the summary names both ports" grep -q 'COM6' "$WORK/gang.txt"

run_cli missing --port COM9
check "missing port: exit 4" test "$CLI_CODE" = 4
check "missing port: the Windows error and advice" \
  grep -q 'Unable to open com port (win error code: 2)' "$WORK/missing.txt"
T_RUNS=$(($(date +%s) - T2))

# ---------------------------------------------------------------- Windows parts
echo "== The command line's Windows parts"
T3=$(date +%s)
# The run log's file, through the program's own log code: three copies of
# the test program append 200 records each at once (600 runs of the program
# would take about 17 minutes under Wine).
check "run log tests" "$PREFIX/libexec/wine-run" "$BUILD/tests/win32/cli_win32_tests.exe" --gtest_brief=1

# The same through the program itself: runs on a port that does not exist
# fail at once and still write their record; three at a time, into a log in
# a folder with a Unicode name.
FOLDER="$WORK/Jürgen"
mkdir -p "$FOLDER"
for round in 1 2 3; do
  WRITERS=()
  for writer in 1 2 3; do
    run_cli "missing-$round-$writer" --port COM9 --log "Z:$FOLDER/runs.jsonl" &
    WRITERS+=($!)
  done
  wait "${WRITERS[@]}"
done
records_intact() { # records_intact LOG COUNT: COUNT lines, each the whole record of a run on no port
  python3 - "$1" "$2" <<'EOF'
import json, sys
lines = open(sys.argv[1], "rb").read().split(b"\n")
records = [json.loads(line) for line in lines[:-1]]
sys.exit(0 if lines[-1] == b"" and len(records) == int(sys.argv[2]) and all(r["exitCode"] == 4 for r in records) else 1)
EOF
}
check "log in a Unicode folder: 9 records of parallel runs intact" records_intact "$FOLDER/runs.jsonl" 9

# Adapters as their drivers enter them in the registry: the device tree
# and the serial device map. Removed again at exit.
ADAPTER_KEYS="Z:$WORK/adapters-remove.reg"
python3 tests/win32/adapterkeys.py remove >"$WORK/adapters-remove.reg"
python3 tests/win32/adapterkeys.py add >"$WORK/adapters-add.reg"
python3 tests/win32/adapterkeys.py expect >"$WORK/ports-expected.txt"
wine regedit /s "Z:$WORK/adapters-add.reg" >/dev/null 2>&1
run_cli ports --list-ports
check "--list-ports: exit 0" test "$CLI_CODE" = 0
check "--list-ports: each adapter's name, driver, USB ids and serial number" \
  test "$(grep -cxFf "$WORK/ports-expected.txt" "$WORK/ports.txt")" = "$(wc -l <"$WORK/ports-expected.txt")"
check "--list-ports: a port without device keys by its device map entry" \
  grep -qx 'COM5  \\\\\.\\COM5 -> \\Device\\.*' "$WORK/ports.txt"
run_cli latency --port COM21
check "FTDI latency: the adapter warned of before the run" grep -q \
  '^Warning: COM21 (USB Serial Port (COM21), usb 0403:6001, serial A12345BC) has its FTDI latency timer at 16 ms' \
  "$WORK/latency.txt"
check "FTDI latency: how much longer the read-back can take" grep -q 'can take up to 29 s longer' "$WORK/latency.txt"
check "FTDI latency: the remedy" grep -q 'Port Settings -> Advanced -> Latency Timer (msec): 1' "$WORK/latency.txt"
check "FTDI latency: then the run (no such port: exit 4)" test "$CLI_CODE" = 4
check "no latency warning for a port without the timer" not grep -q 'latency timer' "$WORK/user.txt"

# A log that cannot be opened: the port is never opened (the unit hears no
# frame). Then the console closed in the middle of programming.
start_unit close --pace --verbose
run_cli badlog --port COM5 --log "Z:$WORK/no such folder/runs.jsonl"
check "unopenable log: exit 2" test "$CLI_CODE" = 2
check "unopenable log: says why" grep -q 'Cannot open the log .*no such folder.* for appending: .*(win error code: 3)' \
  "$WORK/badlog.txt"
check "unopenable log: the port never opened" not grep -qE '^ *[0-9]+\.[0-9]{3}  ' "$WORK/close-unit.log"
# The close is delivered as Windows delivers it, and the process is ended
# as soon as its handler returns. The paced unit takes about 8 s to be
# programmed, so 6 s after the start the run is in the middle of it.
CLOSE_CODE=0
(cd "$APP" && timeout 60 wine "$BUILD/tests/win32/closeconsole.exe" 6000 morvex-flash-cli.exe --port COM5 \
  --log "Z:$WORK/close.jsonl") >"$WORK/close.out" 2>&1 || CLOSE_CODE=$?
tr -d '\r' <"$WORK/close.out" >"$WORK/close.txt"
stop_sim_unit
echo "   $(grep '^closeconsole:' "$WORK/close.txt")"
check "console closed: ended within the grace time" test "$CLOSE_CODE" = 0
check "console closed: stopped at the next safe point" grep -q '^Run interrupted' "$WORK/close.txt"
check "console closed: its log record written" grep -Eq '"exitCode":3,"failure":"(cancelled|interrupted)"' "$WORK/close.jsonl"
T_PARTS=$(($(date +%s) - T3))

echo "== Windows under Wine: build ${T_BUILD} s, backend tests ${T_BACKEND} s, command-line runs ${T_RUNS} s," \
  "Windows parts ${T_PARTS} s, in all $(($(date +%s) - T0)) s"
if [ "$FAILURES" -ne 0 ]; then
  echo "$FAILURES Windows check(s) failed; outputs:" >&2
  for f in "$WORK"/*.txt "$WORK"/*-unit.log "$WORK/peer.log"; do [ -f "$f" ] && {
    echo "--- $f"
    cat "$f"
  }; done >&2
  exit 1
fi
echo "Windows tests passed."
# The installer, in a Wine prefix of its own.
MORVEX_WIN_TESTS=1 MORVEX_UNITSIM="$UNITSIM" ./scripts/windows-installer-tests.sh
