#!/bin/bash
# Where Wine's time goes in an exchange: one unpaced run of the command line
# under Wine against the simulated unit (type 3) with the Wine server
# tracing every request (wineserver -d2), then the requests the program
# made per read-back exchange, by kind, counted over the middle of the
# verify step (600 of its 960 exchanges). Prints figures; not a test.
#
#   bench/windows/server-requests.sh
# Needs build/ (unitsim) and scripts/build-windows.sh's zip folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
source scripts/lib/common.sh
source scripts/lib/version.sh
APP=$ROOT/build-win64/dist/morvex-flash-$(project_version)-win64
UNITSIM=$ROOT/build/tools/unitsim/unitsim
require_built server-requests "$APP/morvex-flash-cli.exe" "$UNITSIM"

source scripts/lib/simunit.sh
source scripts/lib/wine-ports.sh
wine_work_folder requests
map_com_ports COM5="$WORK/unit"
# The server again, tracing: its requests go to its standard error.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -f -p -d2 2>"$WORK/trace.txt" &
start_sim_unit "$WORK/unit" "$WORK/unit.log" --type 3
(cd "$APP" && wine morvex-flash-cli.exe --port COM5) >"$WORK/run.out" 2>&1 ||
  {
    echo "server-requests: the run failed:" >&2
    cat "$WORK/run.out" >&2
    exit 1
  }
grep '^verify:' "$WORK/run.out" || true

python3 - "$WORK/trace.txt" <<'PY'
import collections, re, sys
requests = []
for line in open(sys.argv[1], errors="replace"):
    m = re.match(r"^([0-9a-f]{4}): (\w+)\( ", line)
    if m and ") = " not in line:
        requests.append((m.group(1), m.group(2), line))
# Every read asks the driver for its time-outs first: the last 960 such
# requests are the verify step's reads (the reset's exchanges come after).
reads = [i for i, (_, name, line) in enumerate(requests) if name == "ioctl" and "IOCTL_SERIAL_GET_TIMEOUTS" in line]
if len(reads) < 700:
    sys.exit("server-requests: only %d reads in the trace" % len(reads))
part = requests[reads[-700]:reads[-100]]
print("Wine server requests per read-back exchange (600 exchanges): %.2f" % (len(part) / 600))
for name, count in collections.Counter(name for _, name, _ in part).most_common():
    print("  %-20s %.2f" % (name, count / 600))
print("  by thread: " + ", ".join("%s %d" % kv for kv in collections.Counter(t for t, _, _ in part).items()))
PY
