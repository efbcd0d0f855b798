# shellcheck shell=bash
# Sourced by the scripts: installs the Debian packages they need.
#
#   source scripts/lib/packages.sh
#   ensure_packages nsis osslsigncode ...
# Only the packages not yet installed are fetched; apt-get runs as root
# (directly, or through sudo when it is there).
ensure_packages() {
  local package absent=() sudo=()
  for package in "$@"; do
    [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] || absent+=("$package")
  done
  [ ${#absent[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${absent[*]}"
  # Another script may be installing at the same time: wait for its lock.
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -q >/dev/null &&
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -q \
      --no-install-recommends "${absent[@]}" >/dev/null
}
