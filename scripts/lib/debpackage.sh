# shellcheck shell=bash
# Sourced by the scripts, from the project's root: builds the Debian package.
#
#   source scripts/lib/packages.sh
#   source scripts/lib/debpackage.sh
#   build_deb BUILD       sets DEB (the package's path) and DEB_VERSION
# A Release build in the folder BUILD with Debian's hardening flags (the
# compiler cache when ccache is installed), then `cpack -G DEB` there, which
# writes BUILD/morvex-flash_<version>-1_amd64.deb with the commit's time on
# its entries (or SOURCE_DATE_EPOCH's when set). On a failure it says which
# step failed and returns 1.
build_deb() {
  _build=$1
  ensure_packages dpkg-dev || {
    echo "build_deb: cannot install dpkg-dev" >&2
    return 1
  }
  # Debian's hardening flags (fortified functions, stack protector, full RELRO).
  _cppflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  # No compiler version stamp (.comment): the stripped programs carry nothing unneeded.
  _cxxflags="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) -fno-ident"
  _ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  # The package's times (cpack takes them from SOURCE_DATE_EPOCH): the commit's.
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
  export SOURCE_DATE_EPOCH
  _launcher=""
  if command -v ccache >/dev/null; then _launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache; fi
  cmake -S . -B "$_build" -DCMAKE_BUILD_TYPE=Release -DMORVEX_BUILD_TESTS=OFF -DMORVEX_BUILD_BENCH=OFF \
    $_launcher -DCMAKE_CXX_FLAGS="$_cppflags $_cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$_ldflags" >/dev/null ||
    {
      echo "build_deb: cmake configure in $_build failed" >&2
      return 1
    }
  cmake --build "$_build" -j "${JOBS:-2}" || {
    echo "build_deb: the Release build in $_build failed" >&2
    return 1
  }
  export DEB_VERSION
  DEB_VERSION=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$_build/CPackConfig.cmake" | head -n 1)
  rm -f "$_build"/morvex-flash_*.deb
  # The package's own members (debian-binary, control.tar.gz, data.tar.gz)
  # keep the modes cpack's files get from the umask: 022 for all builds.
  # (What is inside has fixed modes of its own.)
  (cd "$_build" && umask 022 && cpack -G DEB) || {
    echo "build_deb: cpack -G DEB in $_build failed" >&2
    return 1
  }
  DEB=$(ls "$_build"/morvex-flash_*_amd64.deb 2>/dev/null | head -n 1)
  [ -n "$DEB" ] && [ -f "$DEB" ] || {
    echo "build_deb: cpack made no morvex-flash_*_amd64.deb in $_build" >&2
    return 1
  }
}
