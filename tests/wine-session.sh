#!/bin/sh
# Starts the build's Wine prefix (creating it if needed) with one wineserver kept running for
# all the tests, or stops it. One lasting server spares every test the start-up, and a test
# never races a server that is still shutting down after the test before it.
# Usage: wine-session.sh start|stop WINE_RUN
set -eu
run=$2
case "$1" in
  start)
    "$run" wineserver -k 2>/dev/null || true
    "$run" wineserver -p </dev/null >/dev/null 2>&1
    "$run" wineboot -i </dev/null >/dev/null 2>&1
    ;;
  stop) "$run" wineserver -k 2>/dev/null || true ;;
esac
