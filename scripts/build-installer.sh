#!/bin/bash
# Builds the Windows installer of this copy: cross-builds the programs
# (scripts/build-windows.sh), then packs the same files as the zip with
# NSIS into dist/morvex-flash-<version>-<image>-setup.exe, where <image> is
# the name of the image the programs carry (spaces as "-").
#
#   scripts/build-installer.sh
# Environment: as scripts/build-windows.sh (which signs the programs when
# MORVEX_SIGN_PFX is set; the installer and its uninstaller are signed then
# too, see scripts/sign-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/lib/packages.sh
source scripts/lib/installer.sh
ensure_packages nsis
./scripts/build-windows.sh

BUILD=$ROOT/build-win64
source scripts/lib/version.sh
VERSION=$(project_version)
STAGE=$BUILD/dist/morvex-flash-$VERSION-win64
IMAGE=$(sed -n 's/^MORVEX_IMAGE_NAME:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
OUT=$ROOT/dist/morvex-flash-$VERSION-$(image_id "$IMAGE")-setup.exe

# The installer's file list, and its uninstaller's, from the staged folder:
# the uninstaller deletes by name what was installed, and nothing else.
WORK=$BUILD/installer
rm -rf "$WORK"
mkdir -p "$WORK"
(cd "$STAGE" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$WORK/files.txt"
awk -v stage="$STAGE" '
  function winpath(p) { gsub("/", "\\", p); return p }
  {
    dir = $0; sub("/?[^/]*$", "", dir)
    if (dir != last || NR == 1) {
      print "SetOutPath \"$INSTDIR" (dir == "" ? "" : "\\" winpath(dir)) "\"" > files
      last = dir
    }
    print "File \"" stage "/" $0 "\"" > files
    print "Delete \"$INSTDIR\\" winpath($0) "\"" > unfiles
    if (dir != "" && !(dir in seen)) { seen[dir] = 1; dirs[++n] = dir }
  }
  END { for (i = n; i >= 1; i--) print "RMDir \"$INSTDIR\\" winpath(dirs[i]) "\"" > unfiles }
' files="$WORK/files.nsh" unfiles="$WORK/unfiles.nsh" "$WORK/files.txt"

mkdir -p dist
make_installer "$BUILD" "$VERSION" "$IMAGE" "$OUT"
echo "dist/$(basename "$OUT"): $(stat -c %s "$OUT") bytes"
