#!/bin/sh
# Runs one Windows program inside the build tree's Wine session.
# usage: wine-run.sh STATE_DIR WINE PROGRAM [ARGS...]
set -eu
state=$1 wine=$2
shift 2
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$state/display" ]; then
  DISPLAY=$(cat "$state/display")
  export DISPLAY
fi
exec "$wine" "$@"
