#!/bin/sh
# Builds the release twice, from copies of the sources in two different folders and at two
# different times, and checks that the two installers are the same bytes.
# Usage: reproducible.sh SOURCE_DIR WORK_DIR
set -eu
src=$1 work=$2
rm -rf "$work"
for copy in first second-elsewhere; do
  mkdir -p "$work/$copy/source"
  tar -C "$src" --exclude=./build --exclude=./.git --exclude=./bench/out -cf - . |
    tar -C "$work/$copy/source" -xf -
  cmake -S "$work/$copy/source" -B "$work/$copy/build" \
    -DCMAKE_TOOLCHAIN_FILE="$work/$copy/source/cmake/i686-w64-mingw32.cmake" >/dev/null
  cmake --build "$work/$copy/build" -j2 >/dev/null
  sleep 2
done
if cmp "$work/first/build/OrvexProChineseOCR.exe" \
       "$work/second-elsewhere/build/OrvexProChineseOCR.exe"; then
  echo "both builds gave the same bytes"
  rm -rf "$work"
else
  echo "FAIL: two builds of the same sources differ"; exit 1
fi
