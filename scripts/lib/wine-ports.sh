# shellcheck shell=bash
# Sourced by the scripts that run the Windows programs under Wine: the Wine
# prefix, and COM ports mapped to Linux paths (pseudo-terminals or links to
# them).
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
