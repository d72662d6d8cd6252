#!/usr/bin/env bash
# Runs Quillon: sets the machine up, builds the product, lays out a demo
# folder with the simulated adapter behind every port entry and starts the
# program under Wine. With an X display it opens there; without one it runs
# on Xvfb, saves a screenshot of the main window and ends the program.
#
# --serial: the serial-line adapter instead. The adapter emulator runs on a
# pseudo-terminal that is COM5 of the demo's Wine prefix, with the simulated
# bus behind it, and the program starts with "Serial COM5"
# selected; the emulator stops when the program ends.
# --lang de|en: sets the program's language in the prefix (kept for later
# runs). Without it the language stays as it was set in the prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/demo-lib.sh

usage() {
  echo "usage: $0 [--serial] [--lang de|en]" >&2
  exit 2
}
SERIAL_COM=
LANGUAGE=
while [ $# -gt 0 ]; do
  case "$1" in
  --serial) SERIAL_COM=5 ;;
  --lang)
    [ $# -ge 2 ] || usage
    case "$2" in de | en) LANGUAGE=$2 ;; *) usage ;; esac
    shift
    ;;
  *) usage ;;
  esac
  shift
done

# The language only when asked for: the user's own setting stays.
language_setup() {
  [ -z "$LANGUAGE" ] || quillon_set_language "$LANGUAGE"
}

bash scripts/setup.sh
quillon_choose_arch
quillon_build
quillon_layout_demo
[ -z "$SERIAL_COM" ] || quillon_build_emulator

# The serial port code of COMn: 0x2000 + n.
serial_setup() {
  [ -n "$SERIAL_COM" ] || return 0
  quillon_select_port $((0x2000 + SERIAL_COM))
  quillon_start_emulator "$SERIAL_COM"
}

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  quillon_prefix
  language_setup
  quillon_manager_title_bars
  trap 'quillon_stop_emulator' EXIT
  serial_setup
  echo "Starting Quillon on $DISPLAY from $DEMO (Wine prefix $WINEPREFIX)"
  cd "$DEMO"
  if [ -z "$SERIAL_COM" ]; then exec "$WINE" quillon.exe; fi
  "$WINE" quillon.exe
  exit 0
fi

trap 'quillon_stop_emulator; quillon_stop_xvfb' EXIT
quillon_start_xvfb
quillon_headless_prefix
echo "No X display: running Quillon on Xvfb ($DISPLAY), Wine prefix $WINEPREFIX"
quillon_prefix
language_setup
quillon_draw_title_bars
serial_setup
quillon_start_program
shot=$PWD/$BUILD/quillon-main-window.png
quillon_shot main "$shot"
quillon_close_program
echo "Quillon ran and ended cleanly; its main window: $shot"
