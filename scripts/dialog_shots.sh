#!/usr/bin/env bash
# Pictures of every dialog of both language libraries, filled with typical
# contents, for checking by eye that no text is cut or overlapping.
# usage: bash scripts/dialog_shots.sh [OUTPUT_FOLDER]
# Runs the win64 build under wine64 on its own Xvfb display; prints the PNGs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-build/win64/dialog-shots}")

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target dialog_gallery >/dev/null
cache=build/win64/CMakeCache.txt
wine=$(sed -n 's/^QUILLON_WINE:FILEPATH=//p' "$cache")
wineserver=$(sed -n 's/^QUILLON_WINESERVER:FILEPATH=//p' "$cache")
state=$root/build/win64/wine

sh cmake/wine-session.sh start "$state" "$wine" "$wineserver" >/dev/null
trap 'sh "$root/cmake/wine-session.sh" stop "$state" "$wine" "$wineserver"' EXIT

mkdir -p "$out"
rm -f "$out"/*.bmp "$out"/*.png
(cd "$out" && sh "$root/cmake/wine-run.sh" "$state" "$wine" \
  "$root/build/win64/tests/win32/dialog_gallery.exe" .)
for bmp in "$out"/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png"
  rm "$bmp"
  echo "${bmp%.bmp}.png"
done
