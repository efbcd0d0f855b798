#!/bin/bash
# Installs the Debian 12 packages that building, testing and running need.
# Runs apt-get as root (directly, or through sudo when it is there).
set -euo pipefail
source "$(dirname "$0")/lib/packages.sh"
ensure_packages cmake g++ make pkg-config qt6-base-dev qt6-qpa-plugins qt6-svg-dev libqt6svg6 \
  libcrypto++-dev libgtest-dev googletest xvfb xauth x11-utils imagemagick clang libclang-rt-14-dev \
  openbox xdotool shfmt
