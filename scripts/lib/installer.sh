# shellcheck shell=bash
# Sourced by the scripts: makes a Windows installer with NSIS.
#
#   make_installer BUILD VERSION IMAGE OUT [quick]
# packs the files that scripts/build-installer.sh listed in BUILD/installer/
# (files.nsh, unfiles.nsh) into the installer OUT, named for VERSION and the
# image's display name IMAGE. Signs it and its uninstaller when
# MORVEX_SIGN_PFX is set (scripts/sign-windows.sh). "quick" packs with a
# faster, weaker compressor (for the tests' own installers).

# The image's display name as a file and registry name: "4620 V2.5" gives 4620-V2.5.
image_id() {
  printf %s "$1" | tr -c 'A-Za-z0-9._-' '-'
}

make_installer() {
  local root out=$4 quick=${5:-}
  root=$(cd "$(dirname "$0")/.." && pwd)
  case $3 in
    "")
      echo "make_installer: no image name" >&2
      return 1
      ;;
    *'"'* | *'$'*)
      echo "make_installer: the image name '$3' holds \" or \$, which the installer cannot show" >&2
      return 1
      ;;
  esac
  set -- -V2 -DVERSION="$2" -DIMAGE="$3" -DIMAGE_ID="$(image_id "$3")" -DICON="$1/windows/appicon.ico" \
    -DFILES="$1/installer/files.nsh" -DUNFILES="$1/installer/unfiles.nsh" -DOUTFILE="$4"
  if [ "$quick" = quick ]; then
    set -- "$@" "-X!pragma warning disable 8020" "-XSetCompressor /FINAL zlib"
  fi
  if [ -n "${MORVEX_SIGN_PFX:-}" ]; then
    set -- "$@" -DSIGN="$root/scripts/sign-windows.sh"
  fi
  rm -f "$out"
  makensis "$@" "$root/packaging/windows/installer.nsi"
}
