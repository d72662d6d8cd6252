#!/usr/bin/env bash
# Runs Quillon: sets the machine up, builds the product, lays out a demo
# folder with the simulated adapter behind every port entry and starts the
# program under Wine. With an X display it opens there; without one it runs
# on Xvfb, saves a screenshot of the main window and ends the program.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/demo-lib.sh

bash scripts/setup.sh
quillon_choose_arch
quillon_build
quillon_layout_demo

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  quillon_prefix
  quillon_set_language en
  quillon_manager_title_bars
  echo "Starting Quillon on $DISPLAY from $DEMO"
  cd "$DEMO"
  exec "$WINE" quillon.exe
fi

trap 'quillon_stop_xvfb' EXIT
quillon_start_xvfb
quillon_headless_prefix
echo "No X display: running Quillon on Xvfb ($DISPLAY)"
quillon_prefix
quillon_set_language en
quillon_draw_title_bars
quillon_start_program
shot=$PWD/$BUILD/quillon-main-window.png
quillon_shot main "$shot"
quillon_close_program
echo "Quillon ran and ended cleanly; its main window: $shot"
