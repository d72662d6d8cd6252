#!/bin/sh
# Starts or stops the Wine session of one build tree: a Wine prefix inside
# the build tree (created once), an Xvfb display and one persistent
# wineserver, so that each test program starts in well under a second.
# usage: wine-session.sh start|stop STATE_DIR WINE WINESERVER
set -eu
action=$1 state=$2 wine=$3 wineserver=$4
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$state"

stop_session() {
  "$wineserver" -k 2>/dev/null || true
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/display"
  fi
}

case "$action" in
start)
  stop_session
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix in $WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1
    "$wineserver" -w
  fi
  # A free display number: no lock file and no socket.
  n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  echo $! >"$state/xvfb.pid"
  i=0
  while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  echo ":$n" >"$state/display"
  # Detached from our output, or CTest would wait for the server to exit.
  "$wineserver" -p </dev/null >/dev/null 2>&1
  # Start Wine's own services now, detached from our output, so that no test
  # program's output pipe is held open by them.
  DISPLAY=":$n" "$wine" wineboot </dev/null >/dev/null 2>&1
  # Xvfb has no window manager: unmanaged windows show and go at once,
  # where managed ones wait about 2 s each for a manager that never answers.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1 || true
  echo "Wine session ready on display :$n"
  ;;
stop)
  stop_session
  ;;
*)
  echo "usage: $0 start|stop STATE_DIR WINE WINESERVER" >&2
  exit 2
  ;;
esac
