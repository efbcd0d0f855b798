#!/bin/bash
# A gang against one unit alone: N simulated units (default 8) pacing every
# byte at its line rate (unitsim --pace), programmed by one gang command,
# set against one run on one such unit and against N copies started by hand
# (what the gang's own parent adds). Prints the wall times, the gang's ratio
# to one unit (the line, not the host, should be the limit: about 1), and
# the host CPU the programmer spent per unit (its own processes and
# children, the simulated units left out). Prints figures; not a test.
#
#   bench/gang/gang-run.sh [UNITS]
# Needs build/ (unitsim, morvex-flash-cli).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/common.sh
source scripts/lib/simunit.sh
UNITS=${1:-8}
UNITSIM=build/tools/unitsim/unitsim
CLI=build/src/cli/morvex-flash-cli
require_built gang-run "$UNITSIM" "$CLI"

WORK=$(mktemp -d /tmp/morvex-gang-run.XXXXXX)
trap 'end_tracked_processes; rm -rf "$WORK"' EXIT
PORTS=()
for i in $(seq "$UNITS"); do
  start_sim_unit "$WORK/unit$i" "$WORK/unit$i.log" --pace
  PORTS+=("$WORK/unit$i")
done

# timed NAME COMMAND...: runs the command; NAME.time gets its wall, user and
# system seconds (the children it waited for included), NAME.out its output.
timed() {
  local name=$1 status=0
  shift
  local TIMEFORMAT='%R %U %S'
  { time "$@" >"$WORK/$name.out" 2>&1 || status=$?; } 2>"$WORK/$name.time"
  if [ "$status" -ne 0 ]; then
    echo "gang-run: $name failed (exit $status):" >&2
    cat "$WORK/$name.out" >&2
    exit 1
  fi
}

echo "one unit alone on ${PORTS[0]} ..."
timed alone "$CLI" --port "${PORTS[0]}" --yes --quiet
# by_hand: one copy per port in the background, as a bench script would.
by_hand() {
  local pids=() pid status=0
  for port in "${PORTS[@]}"; do
    "$CLI" --port "$port" --yes --quiet &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=$?; done
  return "$status"
}
echo "$UNITS copies by hand ..."
timed by_hand by_hand
echo "a gang of $UNITS units ..."
timed gang "$CLI" --port "$(
  IFS=,
  echo "${PORTS[*]}"
)" --yes --quiet
cat "$WORK/gang.out"

read -r alone_wall alone_user alone_sys <"$WORK/alone.time"
read -r gang_wall gang_user gang_sys <"$WORK/gang.time"
read -r hand_wall hand_user hand_sys <"$WORK/by_hand.time"
awk -v n="$UNITS" -v aw="$alone_wall" -v au="$alone_user" -v as="$alone_sys" \
  -v hw="$hand_wall" -v hu="$hand_user" -v hs="$hand_sys" \
  -v gw="$gang_wall" -v gu="$gang_user" -v gs="$gang_sys" 'BEGIN {
  printf "one unit alone:    %6.1f s wall, %5.2f s CPU (user %.2f, system %.2f)\n", aw, au + as, au, as
  printf "%d copies by hand: %6.1f s wall, %5.2f s CPU, %.2f s CPU per unit\n", n, hw, hu + hs, (hu + hs) / n
  printf "gang of %d units:   %6.1f s wall, %5.2f s CPU (user %.2f, system %.2f), %.2f s CPU per unit\n", n, gw, gu + gs, gu, gs, (gu + gs) / n
  printf "gang / alone:      %6.3f (%s 1.10); gang / by hand: %.3f\n", gw / aw, gw / aw <= 1.10 ? "within" : "over", gw / hw
}'
