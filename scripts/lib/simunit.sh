# shellcheck shell=bash
# The simulated unit started from a script: UNITSIM names its program.
# Source scripts/lib/common.sh first (its processes are tracked there).

# start_sim_unit <link> <log> [unitsim options...]: the unit with its
# terminal linked at <link> and its output in <log> (- leaves it on the
# script's own output), ended with the other
# tracked processes; returns once the link is there (10 s at most). Its
# process is UNIT_PID.
start_sim_unit() {
  local link=$1 log=$2
  shift 2
  rm -f "$link"
  if [ "$log" = - ]; then
    "$UNITSIM" --link "$link" "$@" </dev/null &
  else
    "$UNITSIM" --link "$link" "$@" </dev/null >"$log" 2>&1 &
  fi
  UNIT_PID=$!
  track_process "$UNIT_PID"
  WAIT_SECONDS=10 wait_for "the simulated unit on $link" test -e "$link"
}

# stop_sim_unit: ends the last unit started and waits for it (it writes its
# final flash dump on the way out).
stop_sim_unit() {
  kill -TERM "$UNIT_PID" 2>/dev/null || true
  wait "$UNIT_PID" 2>/dev/null || true
}
