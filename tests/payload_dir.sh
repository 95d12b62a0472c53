#!/bin/sh
# A release build takes the payloads from a folder: configure says which set it embeds, and
# refuses a folder where a file is missing or empty, naming that file.
# Usage: payload_dir.sh SOURCE_DIR WORK_DIR
set -eu
src=$1 work=$2
payloads="$work/payloads"
rm -rf "$work"
mkdir -p "$payloads"
python3 "$src/cmake/make_standin_payloads.py" "$payloads"

# One build folder for every configure: the compiler is checked once.
configure() {
  cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" \
    -DORVEX_PAYLOAD_DIR="$payloads" >"$work/log" 2>&1
}
# CMake folds long messages over lines; compare with the folds undone.
said() { tr -s ' \n' '  ' <"$work/log" | grep -qF "$1"; }
fail() {
  cat "$work/log"
  echo "FAIL: $1"
  exit 1
}

configure || fail "a complete payload folder was refused"
said "Payloads: embedding the OCR data files from $payloads" ||
  fail "configure did not say which payloads it embeds"

: >"$payloads/schpp.dic"
! configure || fail "an empty payload file was accepted"
said "Payload file is empty: $payloads/schpp.dic" || fail "empty file not named"

rm "$payloads/latin.ocr"
! configure || fail "a missing payload file was accepted"
said "Payload file missing: $payloads/latin.ocr" || fail "missing file not named"

rm -rf "$work"
echo "payload folders are checked and named"
