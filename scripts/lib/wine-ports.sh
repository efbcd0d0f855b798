# shellcheck shell=bash
# Sourced by the scripts that run the Windows programs under Wine: the Wine
# prefix, COM ports mapped to Linux paths (pseudo-terminals or links to
# them), and a work folder cleaned up with the script's processes.
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/.toolchain/wineprefix}
export WINEDEBUG=-all

# map_com_ports COMn=PATH...: the ports are read when the Wine server starts,
# so it is restarted after, and kept running for every program that follows
# (its chatter kept out of the logs).
map_com_ports() {
  local mapping
  for mapping in "$@"; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "${mapping%%=*}" /t REG_SZ /d "${mapping#*=}" /f >/dev/null 2>&1
  done
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1
}

# wine_work_folder <name>: WORK, a new folder for a script that runs the
# Windows programs, and an EXIT trap that ends the processes the script
# tracked (scripts/lib/common.sh), runs before_cleanup if the script defines
# one, stops the Wine server and removes the folder (KEEP=1 keeps it).
wine_work_folder() {
  WORK=$(mktemp -d "/tmp/morvex-$1.XXXXXX")
  trap wine_cleanup EXIT
}
wine_cleanup() {
  end_tracked_processes
  if declare -F before_cleanup >/dev/null; then before_cleanup; fi
  wineserver -k >/dev/null 2>&1 || true
  if [ "${KEEP:-0}" = 1 ]; then echo "Work folder kept: $WORK"; else rm -rf "$WORK"; fi
}
