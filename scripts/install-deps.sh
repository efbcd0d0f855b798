#!/bin/sh
# Installs the Debian 12 packages that building, testing and running need.
# Runs apt-get as root (directly, or through sudo when it is there).
set -eu
PACKAGES="cmake g++ make pkg-config qt6-base-dev qt6-qpa-plugins qt6-svg-dev libqt6svg6 \
  libcrypto++-dev libgtest-dev googletest xvfb xauth x11-utils imagemagick clang libclang-rt-14-dev \
  openbox xdotool"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends $missing
