# Shared by run.sh and screenshots.sh (sourced, from the repository root):
# choose the build the machine can execute, build it, lay out the demo
# folder, and run it under Wine with an optional Xvfb display.

# ARCH=win32 where 32-bit programs execute (the 32-bit Wine loader runs),
# else win64; WINE is the loader to use.
quillon_choose_arch() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    ARCH=win32
    WINE=wine
    export WINEARCH=win32
  else
    ARCH=win64
    WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
    export WINEARCH=win64
    echo "This machine does not execute 32-bit programs: using the x86_64 build under wine64."
  fi
  BUILD=build/run-$ARCH
  DEMO=$BUILD/demo
  export WINEPREFIX=$PWD/$BUILD/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# Runs on Xvfb use a prefix of their own: a copy of Quillon the user runs
# in the usual prefix is neither seen nor closed by them, and their
# program does not open on the user's display.
quillon_headless_prefix() {
  export WINEPREFIX=$PWD/$BUILD/wineprefix-headless
}

# What the demo folder needs: the program, its language libraries and help
# files, the simulated adapter, the serial-line adapter's library and the
# window poker the headless runs drive it with. No tests, no benchmarks.
QUILLON_PRODUCT_TARGETS=(quillon tarnres tarnresd tarnix_help tarnixd_help quillon_simcan
  quillon_serialcan uipoke)

# The product alone, in its own build tree. The build's output goes to
# $BUILD/build.log; when the build fails, its errors are shown.
quillon_build() {
  local toolchain=cmake/toolchain-i686-w64-mingw32.cmake
  [ "$ARCH" = win64 ] && toolchain=cmake/toolchain-x86_64-w64-mingw32.cmake
  echo "Building Quillon ($ARCH) in $BUILD"
  mkdir -p "$BUILD"
  local log=$BUILD/build.log
  # A configured tree ignores the toolchain file; no warning about that on
  # every later run.
  if ! { cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLON_TESTS=OFF --no-warn-unused-cli &&
    cmake --build "$BUILD" -j 2 --target "${QUILLON_PRODUCT_TARGETS[@]}"; } >"$log" 2>&1; then
    echo "The build failed; its messages (all of them in $log):" >&2
    # The compiler's and linker's own lines first; the tail when there are none.
    if grep -qE 'error:|Error |FAILED:' "$log"; then
      grep -E -A4 'error:|Error |FAILED:' "$log" | head -n 80 >&2
    else
      tail -n 40 "$log" >&2
    fi
    return 1
  fi
}

# The program files of the demo folder: replaced by every run.
DEMO_PROGRAM_FILES="quillon.exe tarnres.dll tarnresd.dll pcan_usb.dll pcan_pci.dll pcan_dng.dll
serialcan.dll tarnix.chm tarnixd.chm"  # and the folders help-en and help-de

# The program, both language libraries, the help files, the serial-line
# adapter's library and the simulated adapter under every adapter driver's
# name (one slave at 63, 125 kbit/s).
# Only the program's own files are replaced: what the user put into the
# folder (a simcan.ini, the input log indata.log) stays.
quillon_layout_demo() {
  mkdir -p "$DEMO"
  local file
  for file in $DEMO_PROGRAM_FILES; do rm -f "$DEMO/$file"; done
  cp "$BUILD/src/ui/quillon.exe" "$BUILD/resources/tarnres.dll" "$BUILD/resources/tarnresd.dll" \
    "$DEMO/"
  local driver
  for driver in pcan_usb.dll pcan_pci.dll pcan_dng.dll; do
    cp "$BUILD/sim/simcan.dll" "$DEMO/$driver"
  done
  # Our own library for serial-line adapters, under its own name.
  cp "$BUILD/serialcan/serialcan.dll" "$DEMO/"
  local help found=0
  for help in tarnix.chm tarnixd.chm; do
    file=$(find "$BUILD" -name "$help" -not -path "$DEMO/*" | head -n 1)
    if [ -n "$file" ]; then
      cp "$file" "$DEMO/"
      found=$((found + 1))
    fi
  done
  [ "$found" -eq 2 ] || echo "Note: the help files were not built; Help does nothing."
  # Wine's help viewer needs an HTML engine the demo prefix does not have
  # (its pages stay blank there): the same pages, for any web browser.
  local lang pages
  for lang in en:tarnix de:tarnixd; do
    pages=$BUILD/resources/help/${lang#*:}
    rm -rf "$DEMO/help-${lang%%:*}"
    if [ -f "$pages/index.htm" ]; then
      mkdir -p "$DEMO/help-${lang%%:*}"
      # extracted.htm is the build's own check of the compiled file.
      find "$pages" -maxdepth 1 \( -name '*.htm' -o -name '*.css' \) ! -name extracted.htm \
        -exec cp {} "$DEMO/help-${lang%%:*}/" \;
    fi
  done
  [ ! -f "$DEMO/simcan.ini" ] || echo "Using your $DEMO/simcan.ini for the simulated bus."
}

quillon_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix in $WINEPREFIX (once, about half a minute)"
    "$WINE" wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # Wine draws the title-bar buttons with Marlett; this Wine does not look
  # in the folder where fonts-wine puts it.
  local marlett=/usr/share/wine/fonts/marlett.ttf
  if [ -f "$marlett" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
}

# An Xvfb display of our own: XVFB_PID and DISPLAY. Start it before any
# Wine process of the session, so that Wine's desktop opens on it.
quillon_start_xvfb() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  local i=0
  while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  export DISPLAY=":$n"
}

# Xvfb has no window manager: Wine draws the title bars itself.
quillon_draw_title_bars() {
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
}

# A real display has a window manager: let it draw the title bars again.
quillon_manager_title_bars() {
  "$WINE" reg delete 'HKCU\Software\Wine\X11 Driver' /v Decorated /f >/dev/null 2>&1 || true
}

quillon_stop_xvfb() {
  wineserver -w 2>/dev/null || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=
}

quillon_poke() {
  "$WINE" "$BUILD/tools/uipoke.exe" "$@" | tr -d '\r'
}

# Saves a PNG of the main window ("main") or of the dialog it owns
# ("dialog"). A picture of one colour (black, or nothing drawn) is no
# picture of a window: that fails.
quillon_shot() {
  local which=$1 file=$2 rect colours
  rect=$(quillon_poke rect "$which") || {
    echo "no $which window to photograph for $file" >&2
    return 1
  }
  set -- $rect
  import -window root -crop "${1}x${2}+${3}+${4}" +repage "$file"
  colours=$(identify -format '%k' "$file" 2>/dev/null || echo 0)
  if [ "${colours:-0}" -lt 8 ]; then
    echo "the picture of the $which window ($file) is empty ($colours colours)" >&2
    return 1
  fi
}

# Starts Quillon from the demo folder in the background (QUILLON_PID) and
# waits for its main window. A Quillon already running in this prefix is
# not ours to photograph or close: that is an error.
quillon_start_program() {
  if quillon_poke rect main >/dev/null 2>&1; then
    echo "Quillon already runs in the Wine prefix $WINEPREFIX; close it first" >&2
    return 1
  fi
  (cd "$DEMO" && exec "$WINE" quillon.exe) &
  QUILLON_PID=$!
  quillon_poke wait 60 || {
    echo "Quillon's main window did not appear" >&2
    return 1
  }
  sleep 2
}

# Closes the main window as the user would (settings saved) and waits for
# the program to end.
quillon_close_program() {
  quillon_poke close || true
  wait "$QUILLON_PID" 2>/dev/null || true
}

# Sets the language in the prefix: de for German, en for English (the
# program's default, so the value is removed).
quillon_set_language() {
  if [ "$1" = de ]; then
    "$WINE" reg add 'HKLM\Software\Korvath\Quillon' /v LangId /t REG_SZ /d 1031 /f >/dev/null 2>&1
  else
    "$WINE" reg delete 'HKLM\Software\Korvath\Quillon' /v LangId /f >/dev/null 2>&1 || true
  fi
}

# The prefix's LangId value as "reg query" prints its type and data ("REG_SZ
# 1031"; empty when there is none), and that value put back: screenshots.sh
# switches languages in the prefix run.sh shares and leaves the user's
# choice as it found it.
quillon_saved_language() {
  # No value yet is no error: reg query then fails, and the answer is empty.
  { "$WINE" reg query 'HKLM\Software\Korvath\Quillon' /v LangId 2>/dev/null || true; } |
    tr -d '\r' | awk '$1 == "LangId" { print $2, $3 }'
}
quillon_restore_language() {
  if [ -n "$1" ]; then
    # shellcheck disable=SC2086 # type and data
    set -- $1
    "$WINE" reg add 'HKLM\Software\Korvath\Quillon' /v LangId /t "$1" /d "$2" /f >/dev/null 2>&1
  else
    quillon_set_language en
  fi
}

# ---- The serial-line adapter emulator (run.sh --serial) ----------------------

# The emulator is a Linux program: the product's build tree builds it for
# the host in a tree of its own ($BUILD/host). EMULATOR is its path.
quillon_build_emulator() {
  local log=$BUILD/build.log
  if ! cmake --build "$BUILD" --target serialcan_emu_host >>"$log" 2>&1; then
    echo "The serial-line adapter emulator did not build; the messages are in $log" >&2
    return 1
  fi
  EMULATOR=$PWD/$BUILD/host/serialcan/emulator/serialcan-emu
}

# Starts the emulator on a pseudo-terminal that becomes COM<n> of the
# prefix (EMULATOR_PID), with the demo's simcan.ini behind it when the
# user put one into the demo folder, else the simulator's default bus.
quillon_start_emulator() {
  local com=$1 config=sim/simcan.ini
  [ ! -f "$DEMO/simcan.ini" ] || config=$DEMO/simcan.ini
  local link=$WINEPREFIX/dosdevices/com$com log=$BUILD/serialcan-emu.log
  mkdir -p "$WINEPREFIX/dosdevices"
  "$EMULATOR" --config "$config" --link "$link" </dev/null >"$log" 2>&1 &
  EMULATOR_PID=$!
  local i=0
  while [ ! -L "$link" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  if [ ! -L "$link" ]; then
    echo "The serial-line adapter emulator did not start:" >&2
    cat "$log" >&2
    return 1
  fi
  echo "Serial-line adapter emulator on COM$com ($(head -n 1 "$log")), bus from $config"
}

quillon_stop_emulator() {
  [ -n "${EMULATOR_PID:-}" ] && kill "$EMULATOR_PID" 2>/dev/null || true
  EMULATOR_PID=
}

# Writes PrinterPort=<code> into the [Tarnix] section of the program's
# settings file in the prefix; the file's other lines stay as they are.
quillon_select_port() {
  local code=$1
  local dir=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Roaming/Quillon
  local ini=$dir/tarnix.ini
  mkdir -p "$dir"
  [ -f "$ini" ] || : >"$ini"
  awk -v code="$code" '
    { line = $0; sub(/\r$/, "", line) }
    line ~ /^\[/ {
      if (inTarnix && !done) { printf "PrinterPort=%s\r\n", code; done = 1 }
      inTarnix = tolower(line) == "[tarnix]"
      printf "%s\r\n", line
      next
    }
    inTarnix && line ~ /^[ \t]*[Pp][Rr][Ii][Nn][Tt][Ee][Rr][Pp][Oo][Rr][Tt][ \t]*=/ {
      if (!done) printf "PrinterPort=%s\r\n", code
      done = 1
      next
    }
    { printf "%s\r\n", line }
    END {
      if (!done) {
        if (!inTarnix) printf "[Tarnix]\r\n"
        printf "PrinterPort=%s\r\n", code
      }
    }' "$ini" >"$ini.new" && mv "$ini.new" "$ini"
}
