#!/bin/bash
# Signing the Windows programs and the installer (scripts/sign-windows.sh)
# with certificates this script makes itself (openssl): a test CA, a
# code-signing certificate in a PKCS#12 file, and an offline timestamp
# authority (osslsigncode's own, when it has one). Checks with
# `osslsigncode verify`: the signed program and installer verify against the
# test CA, timestamped; a changed byte fails; a wrong or missing password
# fails the signing with one clear line; without a certificate nothing is
# signed and nothing fails. Needs scripts/build-installer.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/lib/packages.sh
source scripts/lib/installer.sh
ensure_packages osslsigncode openssl nsis
BUILD=$ROOT/build-win64
source scripts/lib/version.sh
VERSION=$(project_version)
IMAGE=$(sed -n 's/^MORVEX_IMAGE_NAME:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
CLI=$BUILD/dist/morvex-flash-$VERSION-win64/morvex-flash-cli.exe
WORK=$(mktemp -d /tmp/morvex-signing.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
source scripts/lib/checks.sh

echo "== Signing with a test CA"
cd "$WORK"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Morvex Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
issue() { # issue NAME "extensions": a certificate NAME.pem with key NAME.key from the test CA
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=Morvex Test $1" 2>/dev/null
  printf '%b' "$2" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile "$1.ext" \
    -out "$1.pem" 2>/dev/null
}
issue codesign "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n"
openssl pkcs12 -export -in codesign.pem -inkey codesign.key -certfile ca.pem -out codesign.pfx \
  -passout pass:test-password
export MORVEX_SIGN_PFX=$WORK/codesign.pfx MORVEX_SIGN_PASSWORD=test-password
HELP=$(osslsigncode -h 2>&1 || true)
if grep -q -- -TSA-certs <<<"$HELP"; then
  issue tsa "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n"
  cat tsa.pem ca.pem >tsa-chain.pem
  export MORVEX_SIGN_TSA_CERTS=$WORK/tsa-chain.pem MORVEX_SIGN_TSA_KEY=$WORK/tsa.key
  TIMESTAMPED=1
else
  echo "   this osslsigncode has no offline timestamp authority: signing without a timestamp"
  TIMESTAMPED=0
fi
verify() { osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "$1" >"$1.verify" 2>&1; }
timestamped() { [ "$TIMESTAMPED" = 0 ] || grep -q "Timestamp Server Signature verification: ok" "$1.verify"; }

cp "$CLI" cli.exe
check "the program is signed" "$ROOT/scripts/sign-windows.sh" cli.exe
check "... and verifies against the test CA" verify cli.exe
check "... with a timestamp" timestamped cli.exe
cp cli.exe changed.exe
printf 'X' | dd of=changed.exe bs=1 seek=$(($(stat -c %s changed.exe) / 2)) conv=notrunc status=none
check "a changed byte fails the verification" not verify changed.exe

(cd "$ROOT" && make_installer "$BUILD" "$VERSION" "$IMAGE" "$WORK/setup.exe" quick) >installer.log 2>&1 || true
check "the installer and its uninstaller are signed while they are made" \
  test "$(grep -c '^signed: ' installer.log)" = 2
check "... the installer verifies" verify setup.exe
check "... with a timestamp" timestamped setup.exe

cp "$CLI" wrong.exe
MORVEX_SIGN_PASSWORD=wrong "$ROOT/scripts/sign-windows.sh" wrong.exe >wrong.log 2>&1 && wrong=0 || wrong=$?
check "a wrong password fails" test "$wrong" != 0
check "... saying so" grep -qx "sign-windows: cannot open the certificate $MORVEX_SIGN_PFX: the password (MORVEX_SIGN_PASSWORD) is missing or wrong" wrong.log
check "... and leaves the file as it was" cmp -s wrong.exe "$CLI"
(
  unset MORVEX_SIGN_PASSWORD
  "$ROOT/scripts/sign-windows.sh" wrong.exe
) >missing.log 2>&1 && missing=0 || missing=$?
check "a missing password fails" test "$missing" != 0
(
  unset MORVEX_SIGN_PFX
  "$ROOT/scripts/sign-windows.sh" wrong.exe
) >unsigned.log 2>&1 && unsigned=0 || unsigned=$?
check "without a certificate: not signed, and no failure" \
  bash -c '[ "$0" = 0 ] && grep -q "^not signed: wrong.exe" "$1"' "$unsigned" unsigned.log

if [ "$FAILURES" -ne 0 ]; then
  for f in *.log *.verify; do
    echo "--- $f"
    cat "$f"
  done >&2
  echo "$FAILURES signing check(s) failed" >&2
  exit 1
fi
echo "Signing tests passed."
