#!/bin/bash
# Builds the Debian package, the Windows zip and the installer twice from the
# committed tree, in two fresh clones in different folders and under
# different umasks (022 and 002), and compares them byte for byte;
# diffoscope explains a difference. Writes dist/SHA256SUMS for the
# artefacts when both builds agree.
#
#   scripts/reproduce.sh        (not part of scripts/test.sh: two whole builds)
# Environment: as scripts/build-windows.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/lib/packages.sh
COMMIT=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
TARBALL=${MORVEX_WIN_TOOLCHAIN_TARBALL:-$ROOT/../shared/toolchains/windows/morvex-win64-toolchain.tar.xz}
# Inside the tree (.cache/ is ignored by git), where a compiler cache set up
# for the tree's folder also serves the clones.
WORK=$ROOT/.cache/reproduce
rm -rf "$WORK"
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
t0=$(date +%s)
for side in first:022 second-folder:002; do
  dir=${side%%:*}
  echo "== Building $COMMIT in $WORK/$dir (umask ${side#*:})"
  git clone -q "$ROOT" "$WORK/$dir"
  git -C "$WORK/$dir" checkout -q "$COMMIT"
  (cd "$WORK/$dir" && umask "${side#*:}" &&
    MORVEX_WIN_TOOLCHAIN_TARBALL=$TARBALL ./scripts/build-installer.sh &&
    source scripts/lib/debpackage.sh && build_deb build-package && cp "$DEB" dist/) >"$WORK/$dir.log" 2>&1 ||
    {
      tail -20 "$WORK/$dir.log" >&2
      echo "reproduce: the build in $WORK/$dir failed" >&2
      exit 1
    }
done
echo "== Both built in $(($(date +%s) - t0)) s"
status=0
for f in $(cd "$WORK/first/dist" && ls); do
  if cmp -s "$WORK/first/dist/$f" "$WORK/second-folder/dist/$f"; then
    echo "same: $f"
  else
    echo "DIFFERENT: $f"
    status=1
    ensure_packages diffoscope
    # The whole report stays in .cache/ (the clones go); its start is shown.
    diffoscope --text "$ROOT/.cache/diffoscope-$f.txt" "$WORK/first/dist/$f" "$WORK/second-folder/dist/$f" >/dev/null || true
    head -100 "$ROOT/.cache/diffoscope-$f.txt"
    echo "(the whole report: .cache/diffoscope-$f.txt)"
  fi
done
[ "$status" = 0 ] || exit 1
mkdir -p dist
cp "$WORK/first/dist/"* dist/
(cd "$WORK/first/dist" && sha256sum -- *) >dist/SHA256SUMS
echo "== Both builds agree; dist/SHA256SUMS:"
cat dist/SHA256SUMS
