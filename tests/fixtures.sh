#!/bin/sh
# Prepares, and removes, the conditions the installer's tests cannot make from inside Wine:
#   full-disk/IRIS_OCR/resources  a 2 MiB tmpfs, too small for the payloads
#   immutable/IRIS_OCR/resources  holds schpp.dic with the immutable attribute
#   denied/IRIS_OCR/resources     itself immutable: nothing can be created in it
#   undeletable/IRIS_OCR/resources  immutable too, but holding the installed payloads, a leftover
#                                 working file and a lock file: removals are accepted and fail
#   links/IRIS_OCR/resources      symbolic links to the files of links/outside
#   broken-lock/IRIS_OCR/resources  a symbolic link that leads nowhere under the lock file's name
# The first three need root. Where a step is refused this says so and goes on; the tests that need it
# check the condition themselves and are skipped.
# Usage: fixtures.sh setup|cleanup FOLDER [PAYLOADS]
set -u
action=$1
root=$2
full="$root/full-disk/IRIS_OCR/resources"
immutable="$root/immutable/IRIS_OCR/resources"
links="$root/links/IRIS_OCR/resources"
denied="$root/denied/IRIS_OCR/resources"
undeletable="$root/undeletable/IRIS_OCR/resources"

cleanup() {
  [ -e "$immutable/schpp.dic" ] && chattr -i "$immutable/schpp.dic" 2>/dev/null
  for folder in "$denied" "$undeletable"; do [ -e "$folder" ] && chattr -i "$folder" 2>/dev/null; done
  mountpoint -q "$full" 2>/dev/null && umount "$full"
  rm -rf "$root"
}

case "$action" in
  cleanup) cleanup ;;
  setup)
    cleanup
    mkdir -p "$full" "$immutable" "$denied" "$undeletable" "$links" "$root/links/outside"
    if mount -t tmpfs -o size=2m orvex-full-disk "$full" 2>/dev/null; then
      printf 'old parameters\r' >"$full/schparam.dic"
      printf 'not ours\n' >"$full/readme.txt"
    else
      echo "fixtures: cannot mount a tmpfs (needs root); the full-disk test will be skipped"
    fi
    printf 'old post-processing dictionary\n' >"$immutable/schpp.dic"
    printf 'not ours\n' >"$immutable/readme.txt"
    printf 'old post-processing dictionary\n' >"$denied/schpp.dic"
    cp "$3"/* "$undeletable/"
    printf 'an old lexicon\n' >"$undeletable/eng.ilex.orvex-old"
    : >"$undeletable/orvex-install.lock"
    { chattr +i "$immutable/schpp.dic" && chattr +i "$denied" && chattr +i "$undeletable"; } 2>/dev/null ||
      echo "fixtures: cannot set the immutable attribute (needs root); the access-denied test will be skipped"
    printf 'not ours\n' >"$links/readme.txt"
    for name in eng.ilex latin.ocr.orvex-new schclas.dic.orvex-none schpp.dic.orvex-old; do
      printf 'a file outside the folder, behind %s\n' "$name" >"$root/links/outside/$name"
      ln -s "../../outside/$name" "$links/$name"
    done
    mkdir -p "$root/broken-lock/IRIS_OCR/resources"
    ln -s ../../nowhere "$root/broken-lock/IRIS_OCR/resources/orvex-install.lock"
    ;;
  *) echo "usage: $0 setup|cleanup FOLDER" >&2; exit 2 ;;
esac
exit 0
