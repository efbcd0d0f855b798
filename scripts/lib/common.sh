# shellcheck shell=bash
# What the bash scripts share: waiting for a condition, and the processes
# to end when the script ends. Source it; it sets no shell options of its
# own.

# Processes started with a trailing `&` and then `track_process $!` are
# ended by end_tracked_processes (the scripts call it from their EXIT trap).
TRACKED_PIDS=()
track_process() { TRACKED_PIDS+=("$1"); }
end_tracked_processes() {
  local pid
  for pid in "${TRACKED_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
}

# retry_for <seconds> <command...>: retries the command every POLL_SECONDS
# (default 0.1) until it succeeds (0) or the time is up (1).
retry_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep "${POLL_SECONDS:-0.1}"
  done
}

# wait_for <what> <command...>: retries the command for WAIT_SECONDS
# (default 60); on giving up says what it waited for, runs on_gave_up if
# the script defines one, and exits 1.
wait_for() {
  local what=$1
  shift
  retry_for "${WAIT_SECONDS:-60}" "$@" && return 0
  echo "Gave up waiting for $what." >&2
  if declare -F on_gave_up >/dev/null; then on_gave_up; fi
  exit 1
}

# require_built <who> <file>...: ends the script when a file it needs has
# not been built yet, saying which.
require_built() {
  local who=$1 need
  shift
  for need in "$@"; do
    [ -e "$need" ] || {
      echo "$who: $need is missing (build it first)" >&2
      exit 1
    }
  done
}
