# shellcheck shell=bash
# What the test scripts share: each check prints "ok   <what>" or
# "FAIL <what>" and counts its failure in FAILURES, so that a script runs
# every check and ends by saying how many failed.
FAILURES=0

# check <description> <command...>
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok   $what"
  else
    echo "FAIL $what"
    FAILURES=$((FAILURES + 1))
  fi
}

# not <command...>: succeeds when the command fails ("check ... not grep -q ...").
not() { ! "$@"; }
