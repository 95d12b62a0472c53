#!/bin/sh
# Builds the release once more, from a copy of the sources in another folder and at a later
# time, and checks that it gives the same bytes as the release already built.
# Usage: reproducible.sh SOURCE_DIR RELEASE WORK_DIR [PAYLOAD_DIR]
set -eu
src=$1 release=$2 work=$3 payloads=${4:-}
rm -rf "$work"
mkdir -p "$work/source"
tar -C "$src" --exclude=./build --exclude=./.git --exclude=./bench/out -cf - . |
  tar -C "$work/source" -xf -
cmake -S "$work/source" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$work/source/cmake/i686-w64-mingw32.cmake" \
  ${payloads:+"-DORVEX_PAYLOAD_DIR=$payloads"} >/dev/null
cmake --build "$work/build" -j2 --target OrvexProChineseOCR >/dev/null
if cmp "$release" "$work/build/OrvexProChineseOCR.exe"; then
  echo "the release built again elsewhere gave the same bytes"
  rm -rf "$work"
else
  echo "FAIL: two builds of the same sources differ"; exit 1
fi
