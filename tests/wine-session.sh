#!/bin/sh
# Starts the build's Wine prefix (creating it if needed) with one wineserver kept running for
# all the tests, or stops it. One lasting server spares every test the start-up, and a test
# never races a server that is still shutting down after the test before it.
# Where Xvfb is installed, the session gets a display of its own, as a person's desktop has:
# consoles opened for a program alone then have a real window. It must be there before the
# server starts. Its name goes to DISPLAY_FILE, where wine-run finds it for every program.
# Usage: wine-session.sh start|stop WINE_RUN DISPLAY_FILE
set -eu
run=$2
display_file=$3
prefix=$(dirname "$run")/wineprefix
stop() {
  "$run" wineserver -k 2>/dev/null || true
  if [ -f "$display_file.pid" ]; then kill "$(cat "$display_file.pid")" 2>/dev/null || true; fi
  rm -f "$display_file" "$display_file.pid"
}
case "$1" in
  start)
    stop
    # A new prefix is made in a session of its own, left to end by itself: Wine's services go on
    # setting the prefix up after wineboot returns, and a program that opens a window in that
    # first session waits for them, ten seconds at a time.
    if [ ! -f "$prefix/system.reg" ]; then
      "$run" wineboot -i </dev/null >/dev/null 2>&1
      "$run" wineserver -w
    fi
    if command -v Xvfb >/dev/null 2>&1; then
      Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file.tmp" \
        </dev/null >/dev/null 2>&1 &
      echo $! >"$display_file.pid"
      for _ in $(seq 100); do [ -s "$display_file.tmp" ] && break; sleep 0.1; done
      if [ -s "$display_file.tmp" ]; then
        DISPLAY=:$(cat "$display_file.tmp")
        export DISPLAY
        echo "$DISPLAY" >"$display_file"
      else
        echo "wine-session: Xvfb did not start; the tests that need a display will be skipped"
      fi
      rm -f "$display_file.tmp"
    else
      echo "wine-session: no Xvfb; the tests that need a display will be skipped"
    fi
    "$run" wineserver -p </dev/null >/dev/null 2>&1
    "$run" wineboot -i </dev/null >/dev/null 2>&1
    ;;
  stop) stop ;;
esac
