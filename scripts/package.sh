#!/bin/bash
# Builds the Debian package (build-package/, Release) and checks it:
#   - lintian: no errors, and no warnings but the ones docs/installing.md explains;
#   - desktop-file-validate on the desktop entry, appstreamcli on the
#     AppStream metadata;
#   - installs it with apt-get on a clean Debian 12 root (debootstrap, cached
#     as a tarball in .cache/package-root/), runs morvex-flash-cli --info,
#     starts morvex-flash on an Xvfb display inside that root and checks its
#     window, then purges the package and checks its files are gone.
# Runs apt-get, debootstrap and chroot as root (directly, or through sudo).
# Any failed check ends the script with a message that says which.
set -euo pipefail
cd "$(dirname "$0")/.."
TOP=$(pwd)
BUILD=$TOP/build-package
CACHE=$TOP/.cache/package-root
DESKTOP_ID=com.morvex.FlashProgrammer
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

fail() {
  echo "package.sh: FAILED: $*" >&2
  exit 1
}
step() {
  echo
  echo "== $* ($(date -u +%H:%M:%S))"
}

step "Build tools and checkers"
./scripts/install-deps.sh
source scripts/lib/packages.sh
ensure_packages fakeroot lintian desktop-file-utils appstream debootstrap

step "Release build in build-package/ and cpack -G DEB"
source scripts/lib/debpackage.sh
build_deb "$BUILD" || fail "the package build (above)"
VERSION=$DEB_VERSION
echo "Package: $DEB (version $VERSION)"
dpkg-deb -I "$DEB"
dpkg-deb -c "$DEB"

# What must be in the package, and what must not.
CONTENTS=$(dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|')
EXPECTED="/usr/bin/morvex-flash /usr/bin/morvex-flash-cli
/usr/share/applications/$DESKTOP_ID.desktop
/usr/share/icons/hicolor/scalable/apps/$DESKTOP_ID.svg
/usr/share/metainfo/$DESKTOP_ID.metainfo.xml
/usr/share/man/man1/morvex-flash.1.gz /usr/share/man/man1/morvex-flash-cli.1.gz
/usr/share/doc/morvex-flash/copyright /usr/share/doc/morvex-flash/changelog.Debian.gz"
for f in $EXPECTED; do
  grep -qx "$f" <<<"$CONTENTS" || fail "the package lacks $f"
done
if grep -E 'unitsim|mkimage|mkdemo|_tests|/include/|\.a$' <<<"$CONTENTS"; then
  fail "the package holds developer's files (listed above)"
fi
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $DEPENDS"
for lib in libqt6widgets6 libqt6core6 libcrypto++8 libc6; do
  grep -q "$lib" <<<"$DEPENDS" || fail "Depends lacks $lib: dpkg-shlibdeps did not compute the dependencies"
done
if grep -Eq 'cmake|-dev|g\+\+' <<<"$DEPENDS"; then fail "Depends names build tools: $DEPENDS"; fi

step "lintian"
# Warnings that docs/installing.md explains; any other
# warning, or any error, fails.
ALLOWED_WARNINGS="initial-upload-closes-no-bugs"
LINTIAN_OUT=$(lintian --info --display-info --pedantic "$DEB" 2>&1 | grep -v 'running with root privileges') || true
echo "$LINTIAN_OUT"
if grep -q '^E: ' <<<"$LINTIAN_OUT"; then fail "lintian reports errors"; fi
unexpected=$(grep '^W: ' <<<"$LINTIAN_OUT" | while read -r _ _ tag _; do
  case " $ALLOWED_WARNINGS " in *" $tag "*) ;; *) echo "$tag" ;; esac
done || true)
[ -z "$unexpected" ] || fail "lintian warnings not explained in docs/installing.md: $unexpected"

step "desktop-file-validate and appstreamcli validate"
UNPACK=$BUILD/unpacked
rm -rf "$UNPACK"
dpkg-deb -x "$DEB" "$UNPACK"
DFV=$(desktop-file-validate "$UNPACK/usr/share/applications/$DESKTOP_ID.desktop" 2>&1) ||
  fail "desktop-file-validate: $DFV"
[ -z "$DFV" ] || fail "desktop-file-validate: $DFV"
echo "desktop-file-validate: no messages"
appstreamcli validate --no-net --pedantic "$UNPACK/usr/share/metainfo/$DESKTOP_ID.metainfo.xml" ||
  fail "appstreamcli validate"
grep -q "<release version=\"$VERSION\"" "$UNPACK/usr/share/metainfo/$DESKTOP_ID.metainfo.xml" ||
  fail "the metainfo's release is not the project version $VERSION"
for page in morvex-flash morvex-flash-cli; do
  W=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$UNPACK/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$W" ] || fail "man page $page.1: $W"
done
echo "man pages: no groff warnings"

step "Install, start and remove on a clean Debian 12 root"
# The mirror this machine's apt uses for bookworm.
MIRROR=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
  /^URIs:/ { uri = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") print uri }' | head -n 1 || true)
if [ -z "$MIRROR" ]; then
  MIRROR=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' | sed 's/^\[.*\]//' || true)
fi
[ -n "$MIRROR" ] || fail "no bookworm mirror in /etc/apt/sources.list or /etc/apt/sources.list.d"
echo "Mirror: $MIRROR"
# The root's own tools for the check: Xvfb, and xwininfo to see the window.
ROOT_TOOLS="xvfb x11-utils"
TARBALL=$CACHE/bookworm-minbase-$(echo "$MIRROR $ROOT_TOOLS" | md5sum | cut -c1-8).tar
ROOT=$CACHE/root
mkdir -p "$CACHE"

cleanup() {
  for m in dev/pts dev proc; do
    mountpoint -q "$ROOT/$m" 2>/dev/null && $SUDO umount -l "$ROOT/$m"
  done
  return 0
}
trap cleanup EXIT INT TERM
# Removes the root, never through a mount that is still there (the bound
# /dev would take the host's devices with it).
remove_root() {
  cleanup
  if grep -q " $ROOT/" /proc/mounts; then fail "mounts under $ROOT remain: not removing it"; fi
  $SUDO rm -rf --one-file-system "$ROOT"
}
mount_root() {
  $SUDO mount -t proc proc "$ROOT/proc"
  $SUDO mount --bind /dev "$ROOT/dev"
  $SUDO mount --bind /dev/pts "$ROOT/dev/pts"
  $SUDO cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
}
in_root() { $SUDO chroot "$ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }

remove_root
if [ -f "$TARBALL" ]; then
  echo "Clean root from the cache: $TARBALL"
  mkdir -p "$ROOT"
  $SUDO tar -C "$ROOT" -xf "$TARBALL" || fail "unpacking $TARBALL"
  mount_root
else
  echo "Making the clean root with debootstrap (cached as $TARBALL)"
  $SUDO debootstrap --variant=minbase bookworm "$ROOT" "$MIRROR" >"$CACHE/debootstrap.log" 2>&1 ||
    fail "debootstrap (see $CACHE/debootstrap.log)"
  mount_root
  in_root apt-get update >/dev/null || fail "apt-get update in the clean root"
  in_root apt-get install -y --no-install-recommends $ROOT_TOOLS >/dev/null ||
    fail "installing $ROOT_TOOLS in the clean root"
  in_root apt-get clean
  cleanup
  $SUDO tar -C "$ROOT" -cf "$TARBALL.tmp" . && mv "$TARBALL.tmp" "$TARBALL" || fail "caching the root"
  mount_root
fi
if in_root dpkg-query -W morvex-flash >/dev/null 2>&1; then fail "the clean root already has morvex-flash"; fi
in_root apt-get update >/dev/null || fail "apt-get update in the clean root"

$SUDO cp "$DEB" "$ROOT/tmp/"
DEBNAME=$(basename "$DEB")
echo "apt-get install -y ./$DEBNAME"
in_root bash -c "cd /tmp && apt-get install -y ./$DEBNAME" >"$BUILD/root-install.log" 2>&1 ||
  {
    tail -n 30 "$BUILD/root-install.log"
    fail "apt-get install of the package in the clean root"
  }
echo "packages set up in the clean root: $(grep -c '^Setting up ' "$BUILD/root-install.log" || true)"
for f in $EXPECTED; do
  [ -e "$ROOT$f" ] || fail "$f is not on the clean root after the install"
done

INFO=$(in_root morvex-flash-cli --info 2>&1) || fail "morvex-flash-cli --info in the clean root: $INFO"
echo "$INFO"
IMAGE_NAME=$(echo "$INFO" | sed -n 's/^Image: *//p')
[ -n "$IMAGE_NAME" ] || fail "morvex-flash-cli --info names no image"

# The window program on a virtual display: it must still be running after
# five seconds, with a window titled with the image's name.
in_root bash -c '
  Xvfb :77 -nolisten tcp -screen 0 1024x768x24 >/tmp/xvfb.log 2>&1 &
  xvfb=$!
  for i in 1 2 3 4 5 6 7 8 9 10; do [ -e /tmp/.X11-unix/X77 ] && break; sleep 0.5; done
  DISPLAY=:77 morvex-flash >/tmp/morvex-flash.log 2>&1 &
  app=$!
  sleep 5
  status=0
  if ! kill -0 $app 2>/dev/null; then echo "morvex-flash exited:"; cat /tmp/morvex-flash.log; status=1
  elif ! DISPLAY=:77 xwininfo -root -tree | grep -F "\"$1\""; then
    echo "no window titled \"$1\":"; DISPLAY=:77 xwininfo -root -tree; status=1
  fi
  kill $app 2>/dev/null; wait $app 2>/dev/null
  kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null
  exit $status' bash "$IMAGE_NAME" || fail "the window program did not start on Xvfb in the clean root"
echo "morvex-flash ran for 5 s on Xvfb with its window \"$IMAGE_NAME\""

in_root apt-get remove --purge -y morvex-flash >"$BUILD/root-remove.log" 2>&1 ||
  {
    tail -n 20 "$BUILD/root-remove.log"
    fail "apt-get remove --purge morvex-flash"
  }
for f in $EXPECTED; do
  if [ -e "$ROOT$f" ]; then fail "$f is still there after apt-get remove --purge"; fi
done
if ls "$ROOT"/usr/bin/morvex-flash* >/dev/null 2>&1; then fail "/usr/bin/morvex-flash* left after the purge"; fi
if [ -e "$ROOT/usr/share/doc/morvex-flash" ]; then fail "/usr/share/doc/morvex-flash left after the purge"; fi
echo "removed: no /usr/bin/morvex-flash*, desktop entry, icon, metainfo, man pages or doc folder left"

remove_root
step "All package checks passed: $DEB"
