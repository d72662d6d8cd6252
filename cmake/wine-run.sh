#!/bin/sh
# Runs one Windows program inside the build tree's Wine session.
# usage: wine-run.sh STATE_DIR WINE PROGRAM [ARGS...]
set -eu
state=$1 wine=$2
shift 2
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A refused simulator configuration must not wait for a click on its box.
export SIMCAN_NO_ERROR_BOX=1
if [ -f "$state/display" ]; then
  DISPLAY=$(cat "$state/display")
  export DISPLAY
fi
exec "$wine" "$@"
