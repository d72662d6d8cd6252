#!/usr/bin/env bash
# PNG screenshots of Quillon's windows under Wine on Xvfb, in English and
# German: the main window, About, Search Slaves, Change Address and Baud
# Rate, Read Attribute, Write Attribute and the Bus Monitor.
# usage: scripts/screenshots.sh [OUTPUT_FOLDER]   (default build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/demo-lib.sh
out=${1:-build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

bash scripts/setup.sh
quillon_choose_arch
quillon_build
quillon_layout_demo
trap 'quillon_stop_xvfb' EXIT
quillon_start_xvfb
quillon_headless_prefix
quillon_prefix
quillon_draw_title_bars
language=$(quillon_saved_language)

# Menu commands (resources/resource.h).
ABOUT=40014 SEARCH_ALL_RATES=40021 CHANGE=112 READ_ATTR=1049 WRITE_ATTR=1050
START=40004 STOP=40005 BUS_MONITOR=40022
IDYES=6  # message box button

# A bus with a few kinds of node, so that the search shows who is who.
cp scripts/screenshot-bus.ini "$DEMO/screenshot-bus.ini"
export SIMCAN_CONFIG=screenshot-bus.ini

# modal COMMAND FILE [SECONDS before the picture, default 2]
modal() {
  quillon_poke command "$1"
  sleep "${3:-2}"
  quillon_shot dialog "$out/$2"
  quillon_poke dismiss
}

for lang in en de; do
  quillon_set_language "$lang"
  quillon_start_program
  quillon_shot main "$out/main-$lang.png"
  modal "$ABOUT" "about-$lang.png"
  # The search at every rate finished: at each, 3 s after the adapter
  # opens, the own MAC ID's listen and check, the probes, then the
  # identities (the scanner and the mute node each take their time-outs).
  # The search at foreign rates is asked first; Yes starts it.
  quillon_poke command "$SEARCH_ALL_RATES"
  quillon_poke answer "$IDYES"
  sleep 26
  quillon_shot dialog "$out/search-$lang.png"
  quillon_poke dismiss
  modal "$CHANGE" "change-$lang.png"
  # The attribute dialogs open from the idle step; Write closes Read.
  quillon_poke command "$READ_ATTR"
  sleep 2
  quillon_shot dialog "$out/read-attribute-$lang.png"
  quillon_poke command "$WRITE_ATTR"
  sleep 2
  quillon_shot dialog "$out/write-attribute-$lang.png"
  quillon_poke dismiss
  # The Bus Monitor while communication runs beside the scanner's traffic:
  # the outputs warning answered OK first, so that the monitor is the one
  # window the main window owns when it is photographed.
  quillon_poke command "$START"
  sleep 2
  quillon_poke press 1
  sleep 4
  quillon_poke command "$BUS_MONITOR"
  sleep 3
  quillon_shot dialog "$out/monitor-$lang.png"
  quillon_poke dismiss
  quillon_poke command "$STOP"
  sleep 2
  quillon_close_program
done
quillon_restore_language "$language"
echo "Screenshots in $out:"
ls "$out"
