#!/bin/sh
# Gives the tests two joined COM ports under Wine: COM2 and COM3 are the two ends of a socat
# pseudo-terminal pair (COM1 is the simulated instrument's, see wine_sim_port.sh). The mapping
# lives in the prefix's HKLM\Software\Wine\Ports; Wine makes its dosdevices links from it when
# its server starts, so the server restarts only when the mapping changes.
#   wine_com_pair.sh start|stop LINE_DIR WINEPREFIX
set -eu
action=$1
lines=$2
export WINEPREFIX="${WINEPREFIX:-$3}"
export WINEDEBUG=-all
pidfile="$lines/socat.pid"

stop_pair() {
  if [ -f "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  fi
}

case "$action" in
  start)
    command -v socat >/dev/null || { echo "socat is needed for the COM port pair" >&2; exit 1; }
    [ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix in $WINEPREFIX" >&2; exit 1; }
    mkdir -p "$lines"
    stop_pair
    rm -f "$lines/com2" "$lines/com3"
    setsid socat pty,raw,echo=0,link="$lines/com2" pty,raw,echo=0,link="$lines/com3" \
      </dev/null >"$lines/socat.log" 2>&1 &
    echo $! >"$pidfile"
    tries=0
    while [ ! -e "$lines/com2" ] || [ ! -e "$lines/com3" ]; do
      tries=$((tries + 1))
      [ "$tries" -le 50 ] || { echo "socat made no pseudo-terminals" >&2; exit 1; }
      sleep 0.1
    done
    if [ "$(readlink "$WINEPREFIX/dosdevices/com2" || true)" != "$lines/com2" ] ||
       [ "$(readlink "$WINEPREFIX/dosdevices/com3" || true)" != "$lines/com3" ]; then
      wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /d "$lines/com2" /f >/dev/null
      wine reg add 'HKLM\Software\Wine\Ports' /v COM3 /d "$lines/com3" /f >/dev/null
      wineserver -k || true
      wineserver -w
      # Keep the new server between the tests' programs, each of which would start it anew.
      wineserver -p30 2>/dev/null || true
      # Starting any program lets Wine lay the new links.
      wine cmd /c exit >/dev/null 2>&1 || true
    fi
    for port in com2 com3; do
      [ "$(readlink "$WINEPREFIX/dosdevices/$port")" = "$lines/$port" ] ||
        { echo "Wine did not map $port to $lines/$port" >&2; stop_pair; exit 1; }
    done
    ;;
  stop)
    stop_pair
    ;;
  *)
    echo "usage: wine_com_pair.sh start|stop LINE_DIR WINEPREFIX" >&2
    exit 2
    ;;
esac
