#!/bin/bash
# Installs what is needed, builds everything and runs every test: once in a
# normal build, then through the kernel's real serial drivers in a virtual
# machine (scripts/driver-tests.sh), once more with the address and
# undefined-behaviour sanitizers (skip that pass with MORVEX_SKIP_SANITIZE=1),
# a short fuzz run (scripts/fuzz.sh), and finally the Windows programs,
# cross-built and run under Wine (scripts/windows-tests.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
JOBS="${JOBS:-2}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$JOBS"
(cd build && ctest --output-on-failure -j"$JOBS")
# The serial layer and the command-line programmer through real kernel
# drivers in a virtual machine (skip it with MORVEX_SKIP_DRIVERS=1).
MORVEX_DRIVER_BUILD=build ./scripts/driver-tests.sh

if [ "${MORVEX_SKIP_SANITIZE:-0}" != "1" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DMORVEX_SANITIZE=ON -DMORVEX_BUILD_BENCH=OFF
  cmake --build build-asan -j"$JOBS"
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  (cd build-asan && ctest --output-on-failure -j"$JOBS")
fi
# A short fuzz run of every fuzz target (skip it with MORVEX_SKIP_FUZZ=1).
if [ "${MORVEX_SKIP_FUZZ:-0}" != "1" ]; then
  ./scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
fi
# The Windows programs, cross-built and tested under Wine against the same
# simulated unit (skip it with MORVEX_SKIP_WINDOWS=1).
if [ "${MORVEX_SKIP_WINDOWS:-0}" != "1" ]; then
  MORVEX_UNITSIM="$PWD/build/tools/unitsim/unitsim" ./scripts/windows-tests.sh
fi
echo "All tests passed."
