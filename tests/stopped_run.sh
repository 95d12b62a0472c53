#!/bin/sh
# A run stopped at each step of replacing the targets. Under Wine the wineserver makes every
# rename, so strace holds its Nth rename back while the run waits on it, and the run is killed
# there, for each N until a run gets through; the rename it asked for still happens, as on
# Windows. The run after each is a damaged copy of the installer: it undoes what it finds, then
# refuses to install, so the folder must hold exactly the old set; the run that gets through,
# exactly the new one. Nothing else may be left in either.
# Usage: stopped_run.sh WINE_RUN INSTALLER PAYLOADS WORK PYTHON
set -eu
run=$1
installer=$2
payloads=$3
work=$4
python=$5
skip() {
  echo "stopped_run: $*; skipped"
  exit 77
}
fail() {
  echo "stopped_run: $*" >&2
  exit 1
}
command -v strace >/dev/null || skip "needs strace"

rm -rf "$work"
mkdir -p "$work/old" "$work/new" "$work/host/IRIS_OCR"
folder="$work/host/IRIS_OCR/resources"
# An update: two targets change, one is new, three already hold their payloads.
cp "$payloads"/schlang.dic "$payloads"/schparam.dic "$payloads"/schpp.dic "$work/old/"
printf 'old lexicon\n' >"$work/old/eng.ilex"
printf 'old classes\n' >"$work/old/schclas.dic"
printf 'not ours\n' >"$work/old/readme.txt"
cp "$payloads"/* "$work/old/readme.txt" "$work/new/"
# One bit off in its latin.ocr, found by the check that comes after the undo.
"$python" - "$installer" "$payloads/latin.ocr" "$work/damaged.exe" <<'EOF'
import sys
image = bytearray(open(sys.argv[1], "rb").read())
payload = open(sys.argv[2], "rb").read()
at = image.find(payload[:4096])
assert at >= 0, "latin.ocr not found in the installer"
image[at + len(payload) // 2] ^= 0x20
open(sys.argv[3], "wb").write(image)
EOF
major=$(sed -n 's/^#define ORVEX_VERSION_MAJOR_TEXT "\(.*\)"/\1/p' "$(dirname "$run")/generated/version.h")
key="HKLM\\SOFTWARE\\Orvex\\Pro\\$major\\Settings"
# Wine's own programs, which the first program of a server starts, must not keep the test's
# output open.
wine() { "$run" "$@" </dev/null >/dev/null 2>&1; }
holds() { diff -r "$work/$1" "$folder" >/dev/null; }
renames() { grep -o 'rename(' "$work/trace" | wc -l; }
# A server of the test's own, to trace; it takes over from the one the tests' session keeps.
wine wineserver -k || true
wine wineserver -w
"$run" wineserver -f -p </dev/null >/dev/null 2>&1 &
server=$!
wine reg add "$key" /v installpath /t REG_SZ /d "Z:$(printf '%s' "$work/host" | tr / '\\')\\" \
  /f /reg:64

n=0
while :; do
  n=$((n + 1))
  rm -rf "$folder"
  cp -r "$work/old" "$folder"
  strace -o "$work/trace" -p "$server" -e trace=/^rename \
    -e inject=/^rename:delay_enter=2000000:when=$n 2>/dev/null &
  tracer=$!
  until grep -q '^TracerPid:[[:space:]]*[1-9]' "/proc/$server/status"; do
    kill -0 "$tracer" 2>/dev/null || skip "strace cannot attach to a process here (ptrace)"
    sleep 0.02
  done
  "$run" "$installer" </dev/null >"$work/out" 2>&1 &
  stopped=$!
  while [ "$(renames)" -lt "$n" ] && kill -0 "$stopped" 2>/dev/null; do sleep 0.02; done
  [ "$(renames)" -lt "$n" ] || kill -s KILL "$stopped"
  status=0
  { wait "$stopped"; } 2>/dev/null || status=$?
  kill -s INT "$tracer"
  wait "$tracer" || true
  if [ "$(renames)" -lt "$n" ]; then
    [ "$status" = 0 ] || fail "the run that got through ended with $status: $(cat "$work/out")"
    holds new || fail "the run that got through did not leave exactly the new set"
    break
  fi
  [ "$status" = 137 ] || fail "held at rename $n, the run ended by itself: $(cat "$work/out")"
  # Killed after staging, while it replaced the targets: its working files must be there.
  ls "$folder" | grep -q '\.orvex-' ||
    fail "killed at rename $n but no working file is there: the kill missed the replacement"
  status=0
  "$run" "$work/damaged.exe" </dev/null >"$work/out" 2>&1 || status=$?
  [ "$status" = 2 ] || fail "after a kill at rename $n the damaged copy ended with $status"
  holds old || fail "after a kill at rename $n the next run did not leave exactly the old set"
done
[ "$n" -gt 2 ] || fail "only $((n - 1)) renames to stop at: the replacement was not traced"
echo "stopped_run: killed at each of $((n - 1)) renames; each undone by the next run"
wine reg delete "$key" /f /reg:64
# The tests' session goes on with a lasting server and Wine's own programs started, as
# tests/wine-session.sh left it.
wine wineserver -k
wait "$server" || true
wine wineserver -p
wine wineboot -i
