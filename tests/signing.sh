#!/bin/sh
# Signs a copy of the release with a throwaway self-signed certificate and checks that the
# signature verifies, and that it stops verifying once a byte of the image changes.
# Usage: signing.sh SOURCE_DIR RELEASE_EXE WORK_DIR
set -eu
src=$1 release=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orvex test signing" \
  -keyout key.pem -out cert.pem 2>/dev/null
cp "$release" installer.exe

if osslsigncode verify -CAfile cert.pem -in installer.exe >/dev/null 2>&1; then
  echo "FAIL: the unsigned installer verifies"; exit 1
fi
"$src/scripts/sign" cert.pem key.pem installer.exe
osslsigncode verify -CAfile cert.pem -in installer.exe >verify.log 2>&1 ||
  { cat verify.log; echo "FAIL: the signed installer does not verify"; exit 1; }

# Change one byte in the middle of the image (inside the payloads).
size=$(stat -c %s installer.exe)
printf 'X' | dd of=installer.exe bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile cert.pem -in installer.exe >/dev/null 2>&1; then
  echo "FAIL: a changed image still verifies"; exit 1
fi
echo "signature verifies, and fails once the image changes"
