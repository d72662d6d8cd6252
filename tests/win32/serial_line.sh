#!/bin/sh
# Starts or stops the serial-line adapter emulator for the Wine tests: its
# pseudo-terminal becomes COM<n> of the build tree's Wine prefix.
# usage: serial_line.sh start|stop STATE_DIR EMULATOR CONFIG COM_NUMBER [EMULATOR OPTIONS...]
set -eu
action=$1 state=$2 emulator=$3 config=$4 com=$5
shift 5  # the rest: the emulator's fault options
link="$state/prefix/dosdevices/com$com"
pidfile="$state/serialcan-emu-com$com.pid"
log="$state/serialcan-emu-com$com.log"

stop_emulator() {
  if [ -f "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  fi
}

case "$action" in
start)
  stop_emulator
  mkdir -p "$state/prefix/dosdevices"
  # Detached from our output, or CTest would wait for the emulator to end.
  "$emulator" --config "$config" --link "$link" "$@" </dev/null >"$log" 2>&1 &
  echo $! >"$pidfile"
  i=0
  while [ ! -L "$link" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  if [ ! -L "$link" ]; then
    echo "the emulator did not come up:" >&2
    cat "$log" >&2
    stop_emulator
    exit 1
  fi
  echo "COM$com -> $(cat "$log")"
  ;;
stop)
  stop_emulator
  ;;
*)
  echo "usage: $0 start|stop STATE_DIR EMULATOR CONFIG COM_NUMBER [EMULATOR OPTIONS...]" >&2
  exit 2
  ;;
esac
