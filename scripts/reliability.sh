#!/bin/bash
# Builds and runs the reliability tests alone: the fault matrix, hang-ups,
# wrong images, what must never stay in memory, the fault subset through
# the main window and the twenty-run session. Each case is its own CTest
# entry, so they run side by side (JOBS, default 2). The figures (hang-up
# latencies, released blocks, the session's descriptors, threads, objects,
# timers and heap) are printed by the cases; --verbose shows them.
#   scripts/reliability.sh [BUILD_DIR] [extra ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
[ $# -gt 0 ] && shift
JOBS="${JOBS:-2}"
export QT_QPA_PLATFORM=offscreen

cmake -S . -B "$BUILD" -DMORVEX_BUILD_APP=ON
cmake --build "$BUILD" -j"$JOBS" --target reliability_tests reliability_gui_tests
cd "$BUILD"
ctest -j"$JOBS" --output-on-failure \
  -R '^(Reliability/(FaultMatrix|HangUp|Secrets|GuiFaults)|WrongImage|ExclusivePort|Session)\.' "$@"
