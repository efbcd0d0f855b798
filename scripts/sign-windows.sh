#!/bin/bash
# Signs Windows programs (Authenticode, SHA-256) with osslsigncode when a
# certificate is given, in place:
#
#   scripts/sign-windows.sh FILE.exe...
# Environment:
#   MORVEX_SIGN_PFX            the code-signing certificate and its key (PKCS#12);
#                              not set: says "not signed" and succeeds
#   MORVEX_SIGN_PASSWORD       its password
#   MORVEX_SIGN_TIMESTAMP_URL  an RFC 3161 timestamp server (optional)
#   MORVEX_SIGN_TSA_CERTS, MORVEX_SIGN_TSA_KEY
#                              instead, an offline timestamp authority's
#                              certificate chain and key (the tests' own)
# A missing certificate file or a wrong password fails with one line saying so.
set -euo pipefail
if [ -z "${MORVEX_SIGN_PFX:-}" ]; then
  for f in "$@"; do echo "not signed: $(basename "$f") (MORVEX_SIGN_PFX is not set)"; done
  exit 0
fi
fail() {
  echo "sign-windows: $*" >&2
  exit 1
}
source "$(dirname "$0")/lib/packages.sh"
ensure_packages osslsigncode openssl
[ -f "$MORVEX_SIGN_PFX" ] || fail "no certificate file $MORVEX_SIGN_PFX (MORVEX_SIGN_PFX)"
# The password goes to the tools through a private file, never the command line.
PASSFILE=$(mktemp)
trap 'rm -f "$PASSFILE" "$PASSFILE.signed"' EXIT
printf '%s' "${MORVEX_SIGN_PASSWORD:-}" >"$PASSFILE"
openssl pkcs12 -in "$MORVEX_SIGN_PFX" -passin "file:$PASSFILE" -noout 2>/dev/null ||
  fail "cannot open the certificate $MORVEX_SIGN_PFX: the password (MORVEX_SIGN_PASSWORD) is missing or wrong"

for f in "$@"; do
  set -- sign -pkcs12 "$MORVEX_SIGN_PFX" -readpass "$PASSFILE" -h sha256 \
    -n "Morvex Classic Series Flash Programmer" -i "https://www.morvex.example/"
  if [ -n "${MORVEX_SIGN_TSA_CERTS:-}" ]; then
    set -- "$@" -TSA-certs "$MORVEX_SIGN_TSA_CERTS" -TSA-key "$MORVEX_SIGN_TSA_KEY"
  elif [ -n "${MORVEX_SIGN_TIMESTAMP_URL:-}" ]; then
    set -- "$@" -ts "$MORVEX_SIGN_TIMESTAMP_URL"
  fi
  osslsigncode "$@" -in "$f" -out "$PASSFILE.signed" >/dev/null || fail "osslsigncode could not sign $f"
  cat "$PASSFILE.signed" >"$f"
  echo "signed: $(basename "$f")"
done
