#!/bin/sh
# Puts three simulated instruments behind COM5, COM6 and COM7 under Wine, for zephor.exe fleet:
# each a native zephor-sim on a pseudo-terminal linked at LINE_DIR/comN (an outdated main, its
# own equipment number, its state written to LINE_DIR/comN.state), and HKLM\Software\Wine\Ports
# maps each port to its link. The links' paths never change, so Wine's server restarts only the
# first time in a prefix. The simulators are stopped by the process ids they were started with.
#   wine_fleet_ports.sh start LINE_DIR WINEPREFIX ZEPHOR_SIM
#   wine_fleet_ports.sh stop LINE_DIR WINEPREFIX
set -eu
[ $# -ge 3 ] || { echo "usage: wine_fleet_ports.sh start|stop LINE_DIR WINEPREFIX [ZEPHOR_SIM]" >&2; exit 2; }
action=$1
lines=$2
export WINEPREFIX="${WINEPREFIX:-$3}"
export WINEDEBUG=-all
ports="5 6 7"
# Each simulator prints its ready line at once; a loaded machine gets a few seconds.
ready_tries=100

stop_sims() {
  for n in $ports; do
    if [ -f "$lines/com$n.pid" ]; then
      kill "$(cat "$lines/com$n.pid")" 2>/dev/null || true
      rm -f "$lines/com$n.pid"
    fi
  done
}

case "$action" in
  start)
    [ $# -ge 4 ] || { echo "wine_fleet_ports.sh: the path of zephor-sim is missing" >&2; exit 2; }
    sim=$4
    [ -x "$sim" ] || { echo "wine_fleet_ports.sh: $sim is not a program" >&2; exit 1; }
    [ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix in $WINEPREFIX" >&2; exit 1; }
    mkdir -p "$lines"
    stop_sims
    for n in $ports; do
      rm -f "$lines/com$n" "$lines/com$n.out" "$lines/com$n.state"
      # Main 1.32 against the images' 1.35: each fleet run loads a main program.
      setsid "$sim" --link "$lines/com$n" --equipment "50$n" --main 1.32 --boot 1.2 \
        --update 1.2 --build 5 --grade QN --ready-delay 200 --state-out "$lines/com$n.state" \
        </dev/null >"$lines/com$n.out" 2>"$lines/com$n.log" &
      echo $! >"$lines/com$n.pid"
    done
    for n in $ports; do
      tries=0
      until grep -q "^ready " "$lines/com$n.out" 2>/dev/null; do
        tries=$((tries + 1))
        if [ "$tries" -gt "$ready_tries" ] || ! kill -0 "$(cat "$lines/com$n.pid")" 2>/dev/null; then
          echo "zephor-sim on com$n did not become ready:" >&2
          cat "$lines/com$n.log" >&2
          stop_sims
          exit 1
        fi
        sleep 0.1
      done
    done
    mapped=yes
    for n in $ports; do
      [ "$(readlink "$WINEPREFIX/dosdevices/com$n" || true)" = "$lines/com$n" ] || mapped=no
    done
    if [ "$mapped" = no ]; then
      for n in $ports; do
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$lines/com$n" /f >/dev/null
      done
      wineserver -k || true
      wineserver -w
      # Keep the new server between the tests' programs, each of which would start it anew.
      wineserver -p30 2>/dev/null || true
      # Starting any program lets Wine lay the new links.
      wine cmd /c exit >/dev/null 2>&1 || true
    fi
    for n in $ports; do
      [ "$(readlink "$WINEPREFIX/dosdevices/com$n")" = "$lines/com$n" ] ||
        { echo "Wine did not map COM$n to $lines/com$n" >&2; stop_sims; exit 1; }
    done
    ;;
  stop)
    stop_sims
    ;;
  *)
    echo "usage: wine_fleet_ports.sh start|stop LINE_DIR WINEPREFIX [ZEPHOR_SIM]" >&2
    exit 2
    ;;
esac
