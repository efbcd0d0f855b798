#!/bin/bash
# Rebuilds the Windows cross toolchain that scripts/build-windows.sh uses
# (mingw-w64 GCC 12, Qt 6.4.2 qtbase + qtsvg DLLs, static Crypto++ 8.7,
# GoogleTest) from Debian 12's own source packages, with
# scripts/windows-toolchain/build-toolchain.sh. Not run in CI: about 21
# minutes on 2 cores plus downloads (qt6-base's source is 46 MB).
#
#   sudo scripts/build-windows-toolchain.sh [PREFIX] [TARBALL]
#     PREFIX   default .toolchain/rebuilt/morvex-win64 in this tree
#     TARBALL  default .toolchain/rebuilt/morvex-win64-toolchain.tar.xz; point
#              MORVEX_WIN_TOOLCHAIN_TARBALL at it (and update the sha256 in
#              scripts/build-windows.sh) to build with it
# Environment: WORK, JOBS, FORCE, WITH_GTEST, DEBIAN_MIRROR,
# DEBIAN_SECURITY_MIRROR and QTSVG_TARBALL as build-toolchain.sh describes.
# The upstream qtsvg tarball is needed only when the archive serves
# qt6-svg's .dsc without its source; by default the copy beside the shared
# prebuilt toolchain is used when it is there.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
PREFIX=${1:-$ROOT/.toolchain/rebuilt/morvex-win64}
TARBALL=${2:-$ROOT/.toolchain/rebuilt/morvex-win64-toolchain.tar.xz}
SHARED_QTSVG=$ROOT/../shared/toolchains/windows/sources/qtsvg-everywhere-src-6.4.2.tar.xz
if [ -z "${QTSVG_TARBALL:-}" ] && [ -f "$SHARED_QTSVG" ]; then export QTSVG_TARBALL="$SHARED_QTSVG"; fi
mkdir -p "$(dirname "$PREFIX")" "$(dirname "$TARBALL")"
if [ "$(id -u)" -eq 0 ]; then
  exec bash scripts/windows-toolchain/build-toolchain.sh "$PREFIX" "$TARBALL"
fi
exec sudo --preserve-env=WORK,JOBS,FORCE,WITH_GTEST,DEBIAN_MIRROR,DEBIAN_SECURITY_MIRROR,QTSVG_TARBALL \
  bash scripts/windows-toolchain/build-toolchain.sh "$PREFIX" "$TARBALL"
