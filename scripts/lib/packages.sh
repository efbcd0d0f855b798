# Sourced by the scripts: installs the Debian packages they need.
#
#   . scripts/lib/packages.sh
#   ensure_packages nsis osslsigncode ...
# Only the packages not yet installed are fetched; apt-get runs as root
# (directly, or through sudo when it is there).
ensure_packages() {
  _missing=""
  for _p in "$@"; do
    dpkg-query -W -f='${Status}' "$_p" 2>/dev/null | grep -q "install ok installed" || _missing="$_missing $_p"
  done
  [ -z "$_missing" ] && return 0
  if [ "$(id -u)" -eq 0 ]; then _sudo=""; else _sudo="sudo"; fi
  echo "Installing:$_missing"
  # Another script may be installing at the same time: wait for its lock.
  # shellcheck disable=SC2086 # one word per package
  DEBIAN_FRONTEND=noninteractive $_sudo apt-get -o DPkg::Lock::Timeout=600 update -q >/dev/null &&
    DEBIAN_FRONTEND=noninteractive $_sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends $_missing >/dev/null
}
