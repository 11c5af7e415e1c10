#!/bin/sh
# Puts the simulated instrument behind COM1 under Wine, the port the front ends open first: the
# native zephor-sim listens on a pseudo-terminal linked at LINE_DIR/com1, and
# HKLM\Software\Wine\Ports maps COM1 to that link.
# The link's path never changes, so Wine's server restarts only the first time in a prefix.
# The simulator is stopped by the process id it was started with.
#   wine_sim_port.sh start LINE_DIR WINEPREFIX ZEPHOR_SIM [SIM OPTIONS...]
#   wine_sim_port.sh stop LINE_DIR WINEPREFIX
set -eu
[ $# -ge 3 ] || { echo "usage: wine_sim_port.sh start|stop LINE_DIR WINEPREFIX [ZEPHOR_SIM ...]" >&2; exit 2; }
action=$1
lines=$2
export WINEPREFIX="${WINEPREFIX:-$3}"
export WINEDEBUG=-all
shift 3
port=com1
port_name=COM1
link="$lines/$port"
pidfile="$lines/sim.pid"
# zephor-sim prints its ready line at once; a loaded machine gets a few seconds.
ready_tries=100

stop_sim() {
  if [ -f "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  fi
}

case "$action" in
  start)
    [ $# -ge 1 ] || { echo "wine_sim_port.sh: the path of zephor-sim is missing" >&2; exit 2; }
    sim=$1
    shift
    [ -x "$sim" ] || { echo "wine_sim_port.sh: $sim is not a program" >&2; exit 1; }
    [ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix in $WINEPREFIX" >&2; exit 1; }
    mkdir -p "$lines"
    stop_sim
    rm -f "$link" "$lines/sim.out"
    setsid "$sim" --link "$link" "$@" </dev/null >"$lines/sim.out" 2>"$lines/sim.log" &
    echo $! >"$pidfile"
    tries=0
    until grep -q "^ready " "$lines/sim.out" 2>/dev/null; do
      tries=$((tries + 1))
      if [ "$tries" -gt "$ready_tries" ] || ! kill -0 "$(cat "$pidfile")" 2>/dev/null; then
        echo "zephor-sim did not become ready:" >&2
        cat "$lines/sim.log" >&2
        stop_sim
        exit 1
      fi
      sleep 0.1
    done
    if [ "$(readlink "$WINEPREFIX/dosdevices/$port" || true)" != "$link" ]; then
      wine reg add 'HKLM\Software\Wine\Ports' /v "$port_name" /d "$link" /f >/dev/null
      wineserver -k || true
      wineserver -w
      # Keep the new server between the tests' programs, each of which would start it anew.
      wineserver -p30 2>/dev/null || true
      # Starting any program lets Wine lay the new links.
      wine cmd /c exit >/dev/null 2>&1 || true
    fi
    [ "$(readlink "$WINEPREFIX/dosdevices/$port")" = "$link" ] ||
      { echo "Wine did not map $port_name to $link" >&2; stop_sim; exit 1; }
    ;;
  stop)
    stop_sim
    ;;
  *)
    echo "usage: wine_sim_port.sh start|stop LINE_DIR WINEPREFIX [ZEPHOR_SIM ...]" >&2
    exit 2
    ;;
esac
