#!/bin/bash
# Cross-builds the Windows programs (morvex-flash.exe, morvex-flash-cli.exe)
# on Debian 12 with the prebuilt mingw-w64 toolchain (Qt 6.4.2 DLLs, static
# Crypto++, GoogleTest), and packs dist/morvex-flash-<version>-win64.zip.
#
#   scripts/build-windows.sh            unpack, configure, build, pack
# Environment:
#   MORVEX_WIN_TOOLCHAIN_TARBALL  the toolchain tarball (default
#                                 ../shared/toolchains/windows/morvex-win64-toolchain.tar.xz)
#   MORVEX_WIN_TESTS=1            also build the Windows backend's tests
#   JOBS=n                        parallel compile jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
TARBALL=${MORVEX_WIN_TOOLCHAIN_TARBALL:-$ROOT/../shared/toolchains/windows/morvex-win64-toolchain.tar.xz}
TARBALL_SHA256=d9f21a149caf06549ea17ba2138d6969d6d0b213194519a91e3ccad7b3945824
TOOLCHAIN_DIR=$ROOT/.toolchain
PREFIX=$TOOLCHAIN_DIR/morvex-win64
BUILD=$ROOT/build-win64
JOBS=${JOBS:-2}
t0=$(date +%s)

# Debian packages: the cross compiler, Ninja, Wine to run the build-time
# generators and the tests, zip to pack, rsvg-convert for the icon.
source scripts/lib/packages.sh
ensure_packages g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix ninja-build cmake pkg-config \
  qt6-base-dev qt6-base-dev-tools wine wine64 fonts-wine zip librsvg2-bin

# The toolchain, unpacked once; a stamp records the tarball it came from.
if [ ! -f "$TOOLCHAIN_DIR/.sha256" ] || [ "$(cat "$TOOLCHAIN_DIR/.sha256")" != "$TARBALL_SHA256" ] ||
  [ ! -f "$PREFIX/mingw-w64.cmake" ]; then
  [ -f "$TARBALL" ] || {
    echo "build-windows: no toolchain tarball at $TARBALL" >&2
    exit 1
  }
  echo "Checking $TARBALL"
  echo "$TARBALL_SHA256  $TARBALL" | sha256sum -c - >/dev/null ||
    {
      echo "build-windows: $TARBALL does not have the expected sha256 $TARBALL_SHA256" >&2
      exit 1
    }
  rm -rf "$TOOLCHAIN_DIR"
  mkdir -p "$TOOLCHAIN_DIR"
  tar -C "$TOOLCHAIN_DIR" -xJf "$TARBALL"
  echo "$TARBALL_SHA256" >"$TOOLCHAIN_DIR/.sha256"
fi

# Wine runs the build-time generators (the demo firmware, the stored
# record): a prefix of its own, made once.
export WINEPREFIX=${WINEPREFIX:-$ROOT/.toolchain/wineprefix}
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Preparing the Wine prefix $WINEPREFIX"
  DISPLAY='' wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi

# The commit's time stands for "now" wherever the build records one: Qt's
# resource compiler stores it as every resource's time (instead of the
# file's, which is when it was checked out), strip in every PE header.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
# The compiler cache, when installed, serves rebuilds and other folders.
LAUNCHER=""
if command -v ccache >/dev/null; then LAUNCHER=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache; fi
cmake -S . -B "$BUILD" -G Ninja $LAUNCHER \
  -DCMAKE_TOOLCHAIN_FILE="$PREFIX/mingw-w64.cmake" \
  -DCMAKE_PREFIX_PATH="$PREFIX" \
  -DQT_HOST_PATH=/usr \
  -DCMAKE_BUILD_TYPE=Release \
  -DMORVEX_BUILD_TESTS="$([ "${MORVEX_WIN_TESTS:-0}" = 1 ] && echo ON || echo OFF)" \
  -DMORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS"

# The zip: both programs, the Qt DLLs and plugins they load, the GCC runtime.
source scripts/lib/version.sh
VERSION=$(project_version)
NAME=morvex-flash-$VERSION-win64
STAGE=$BUILD/dist/$NAME
rm -rf "$STAGE"
mkdir -p "$STAGE/platforms" "$STAGE/styles" "$STAGE/imageformats" "$STAGE/iconengines"
cp "$BUILD/src/app/morvex-flash.exe" "$BUILD/src/cli/morvex-flash-cli.exe" "$STAGE/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Svg libstdc++-6 libgcc_s_seh-1 libwinpthread-1; do
  cp "$PREFIX/bin/$dll.dll" "$STAGE/"
done
cp "$PREFIX/plugins/platforms/qwindows.dll" "$PREFIX/plugins/platforms/qoffscreen.dll" "$STAGE/platforms/"
cp "$PREFIX/plugins/styles/qwindowsvistastyle.dll" "$STAGE/styles/"
cp "$PREFIX/plugins/imageformats/qsvg.dll" "$PREFIX/plugins/imageformats/qico.dll" "$STAGE/imageformats/"
cp "$PREFIX/plugins/iconengines/qsvgicon.dll" "$STAGE/iconengines/"
# strip writes a new time stamp into each PE header: the commit's time.
x86_64-w64-mingw32-strip --strip-unneeded "$STAGE"/*.exe "$STAGE"/*.dll "$STAGE"/*/*.dll
./scripts/sign-windows.sh "$STAGE/morvex-flash.exe" "$STAGE/morvex-flash-cli.exe"
mkdir -p dist
rm -f "dist/$NAME.zip"
# The same files give the same zip: the commit's time on every entry, fixed
# modes, sorted names.
chmod -R u=rwX,go=rX "$STAGE"
find "$STAGE" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$BUILD/dist" && find "$NAME" | LC_ALL=C sort | TZ=UTC zip -q -X -D -@ "$ROOT/dist/$NAME.zip")
echo "dist/$NAME.zip: $(stat -c %s "dist/$NAME.zip") bytes, built in $(($(date +%s) - t0)) s"
