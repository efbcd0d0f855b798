#!/bin/bash
# The command-line programmer on Linux and under Wine, side by side, against
# the same paced simulated unit (type 3, unitsim --pace: every byte takes its
# time on the line): the program and verify steps of each run, as its run
# log times them, and the Wine runs' ratio to the Linux ones. Prints figures;
# not a test.
#
#   bench/windows/paced-run.sh [ROUNDS]      (default 2 rounds of both)
# Needs build/ (unitsim, morvex-flash-cli) and scripts/build-windows.sh's zip folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
ROUNDS=${1:-2}
source scripts/lib/common.sh
source scripts/lib/version.sh
VERSION=$(project_version)
APP=$ROOT/build-win64/dist/morvex-flash-$VERSION-win64
UNITSIM=$ROOT/build/tools/unitsim/unitsim
CLI=$ROOT/build/src/cli/morvex-flash-cli
require_built paced-run "$APP/morvex-flash-cli.exe" "$UNITSIM" "$CLI"

source scripts/lib/simunit.sh
source scripts/lib/wine-ports.sh
wine_work_folder paced
map_com_ports COM5="$WORK/unit"

# paced_run FOLDER LOG COMMAND...: one whole run from the folder against a
# fresh paced unit.
paced_run() {
  local folder=$1 log=$2
  shift 2
  start_sim_unit "$WORK/unit" "$WORK/unit.log" --type 3 --pace
  (cd "$folder" && "$@" --log "$log") >"$WORK/run.out" 2>&1 || {
    echo "paced-run: a run failed:" >&2
    cat "$WORK/run.out" >&2
    exit 1
  }
  stop_sim_unit
}

for round in $(seq "$ROUNDS"); do
  echo "round $round of $ROUNDS: Linux"
  paced_run "$ROOT" "$WORK/linux.jsonl" "$CLI" --port "$WORK/unit"
  echo "round $round of $ROUNDS: Wine"
  paced_run "$APP" "Z:$WORK/wine.jsonl" wine morvex-flash-cli.exe --port COM5
done

python3 - "$WORK/linux.jsonl" "$WORK/wine.jsonl" <<'PY'
import json, sys
def steps(path):
    runs = [json.loads(line) for line in open(path) if line.strip()]
    return [{s["step"]: s["seconds"] for s in run["steps"]} for run in runs]
linux, wine = steps(sys.argv[1]), steps(sys.argv[2])
print("%-8s %-22s %-22s %s" % ("step", "Linux (s)", "Wine (s)", "Wine / Linux"))
for step in ("program", "verify"):
    l = [run[step] for run in linux]
    w = [run[step] for run in wine]
    print("%-8s %-22s %-22s %.3f (best %.3f)" % (step, " ".join("%.2f" % x for x in l), " ".join("%.2f" % x for x in w),
          sum(w) / sum(l), min(w) / min(l)))
PY
