#!/bin/bash
# The project's shell scripts hold to one shell and one layout: each is bash
# (#!/bin/bash with set -euo pipefail; a sourced library says
# "# shellcheck shell=bash" instead), except the virtual machine's init,
# which busybox runs as sh; each parses; and each is laid out as shfmt lays
# it out with a two-space indent. Without shfmt the layout is not checked
# and the test is reported as skipped (exit 77) once the rest has passed.
#
#   tests/scripts/check-scripts.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"
POSIX_SCRIPTS=(tests/drivers/init.sh)
failures=0
fail() {
  echo "$*" >&2
  failures=$((failures + 1))
}

mapfile -t scripts < <(find scripts bench tests tools -name '*.sh' -type f | LC_ALL=C sort)
bash_scripts=()
for script in "${scripts[@]}"; do
  first=$(head -n 1 "$script")
  if [[ " ${POSIX_SCRIPTS[*]} " == *" $script "* ]]; then
    [ "$first" = "#!/bin/sh" ] || fail "$script: busybox runs it, so it must stay #!/bin/sh"
    sh -n "$script" || fail "$script: does not parse"
    continue
  fi
  bash_scripts+=("$script")
  if [[ $script == */lib/* ]]; then
    [ "$first" = "# shellcheck shell=bash" ] || fail "$script: a sourced library starts with # shellcheck shell=bash"
  else
    [ "$first" = "#!/bin/bash" ] || fail "$script: starts with '$first', not #!/bin/bash"
    grep -qx 'set -euo pipefail' "$script" || fail "$script: no set -euo pipefail"
  fi
  bash -n "$script" || fail "$script: does not parse"
done
echo "${#scripts[@]} scripts, $failures problem(s)"
[ "$failures" -eq 0 ] || exit 1

if ! command -v shfmt >/dev/null; then
  echo "shfmt is not installed: the layout is not checked"
  exit 77
fi
unformatted=$(shfmt -ln bash -i 2 -ci -l "${bash_scripts[@]}")
if [ -n "$unformatted" ]; then
  echo "Not laid out as shfmt -ln bash -i 2 -ci lays them out (shfmt -d shows how):" >&2
  echo "$unformatted" >&2
  exit 1
fi
