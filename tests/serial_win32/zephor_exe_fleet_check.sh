#!/bin/sh
# zephor.exe fleet under Wine on the three simulated instruments behind COM5, COM6 and COM7
# (wine_fleet_ports.sh). A first fleet is killed in the middle of its loads, as the Task Manager
# ends a program: within 15 s no run of it is left, each having sent its cancel sequence and kept
# its journal. The next fleet updates all three at once, each in its own folder, and ends with 0;
# its report says 0 for each and the main program each was given, and each simulator runs the new
# main afterwards.
# Wine now and then ends a program at its start (code 1, no output at all, within a few
# milliseconds, before the program's own code has run): such a start of a fleet is made once
# more, as cmake/wine-run does for the test programs; the fleet itself starts each of its runs
# once more when the same happens to one of them. A fleet that printed anything keeps its end.
#   zephor_exe_fleet_check.sh ZEPHOR_EXE LINE_DIR WORK_DIR WINEPREFIX
set -u
[ $# -eq 4 ] || { echo "usage: zephor_exe_fleet_check.sh EXE LINE_DIR WORK_DIR WINEPREFIX" >&2; exit 2; }
exe=$1
lines=$2
work=$3
export WINEPREFIX="$4"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
ports="5 6 7"
[ -x "$exe" ] || { echo "no program $exe" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work/images" "$work/out"

# Images at the simulators' versions but for main 1.35: only main.bin is loaded.
image() { { printf '%s' "$2"; head -c "$3" /dev/zero | tr '\0' "$4"; } >"$work/images/$1"; }
image boot.bin 'Version xx1.2  ' 300 b
image update.bin 'Version xx1.2  ' 300 u
image newboot.bin '' 200 n
# Long enough (200 000 bytes, about 20 s under Wine) that the kill finds every load running.
image main.bin 'Version xx1.35 Build xx5    ' 200000 m
# Tenths of a second: the loads' start, and the runs' end once their fleet is gone.
header_tries=600
gone_tries=150

failed=0
fail() {
  echo "zephor.exe fleet: $*" >&2
  failed=1
}
windows() { winepath -w "$1" 2>/dev/null; }
# Becomes a fleet on the three ports (its process is the one started in the background); its
# output goes to NAME.out and NAME.err.
become_fleet() {
  exec wine "$exe" fleet COM5 COM6 COM7 --yes --images "$(windows "$work/images")" \
    --out "$(windows "$work/out")" --json "$(windows "$work/report.json")" \
    >"$work/$1.out" 2>"$work/$1.err" </dev/null
}
said_nothing() { [ ! -s "$work/$1.out" ] && [ ! -s "$work/$1.err" ]; }
headers() { grep -l "header accepted" "$lines"/com5.log "$lines"/com6.log "$lines"/com7.log | wc -l; }
runs_left() { ps -eo args | grep -c '^[A-Z]:.*zephor\.exe update COM[567] '; }

# The first fleet, killed once every load has begun.
start_killed() {
  (become_fleet killed) &
  fleet=$!
}
start_killed
tries=0
while [ "$(headers)" -lt 3 ] && [ "$tries" -lt "$header_tries" ]; do
  if ! kill -0 "$fleet" 2>/dev/null; then
    wait "$fleet"
    code=$?
    said_nothing killed || break
    echo "Wine ended zephor.exe fleet at its start (code $code, no output); starting it once more"
    start_killed
  fi
  tries=$((tries + 1))
  sleep 0.1
done
if [ "$(headers)" -lt 3 ]; then
  fail "the first fleet did not start every load"
else
  sleep 0.5
  kill -KILL "$fleet"
  tries=0
  while [ "$(runs_left)" -gt 0 ] && [ "$tries" -lt "$gone_tries" ]; do
    tries=$((tries + 1))
    sleep 0.1
  done
  [ "$(runs_left)" -eq 0 ] || fail "runs of the killed fleet are still there after 15 s"
  for n in $ports; do
    grep -q "receive cancelled: the sender sent two CAN" "$lines/com$n.log" ||
      fail "the run on COM$n sent no cancel sequence"
    [ -f "$work/out/ZEPHOR-00000050$n/ZEPHORrestore-00000050$n.json" ] ||
      fail "the run on COM$n kept no journal"
  done
fi
wait "$fleet" 2>/dev/null

# The next fleet finishes every instrument.
(become_fleet fleet)
code=$?
if [ "$code" -ne 0 ] && said_nothing fleet; then
  echo "Wine ended zephor.exe fleet at its start (code $code, no output); starting it once more"
  (become_fleet fleet)
  code=$?
fi
[ "$code" -eq 0 ] || fail "exit $code, wanted 0"
for n in $ports; do
  folder="$work/out/ZEPHOR-00000050$n"
  [ -f "$folder/ZEPHOR.log" ] || fail "no folder of its own for COM$n ($folder/ZEPHOR.log)"
  grep -q "^main=1.35$" "$lines/com$n.state" || fail "COM$n runs $(grep '^main=' "$lines/com$n.state")"
done
# The report, without its spaces and line ends: each port, the fleet's and each instrument's 0,
# and main.bin loaded on each.
report=$(tr -d ' \n\r' <"$work/report.json" 2>/dev/null)
count() { printf '%s' "$report" | grep -o "$1" | wc -l; }
for n in $ports; do
  [ "$(count "\"port\":\"COM$n\"")" -ge 1 ] || fail "the report does not name COM$n"
done
[ "$(count '"exitCode":0')" -eq 4 ] || fail "the report holds exit codes other than 0"
[ "$(count '"imagesLoaded":\["main.bin"\]')" -eq 3 ] || fail "main.bin was not loaded on each"
if [ "$failed" -ne 0 ]; then
  echo "--- the killed fleet's standard error" >&2
  cat "$work/killed.err" >&2
  echo "--- standard output" >&2
  cat "$work/fleet.out" >&2
  echo "--- standard error" >&2
  cat "$work/fleet.err" >&2
  [ -f "$work/report.json" ] && { echo "--- report" >&2; cat "$work/report.json" >&2; }
else
  echo "zephor.exe fleet COM5 COM6 COM7: killed, its runs stopped through their clean-up; the next"
  echo "fleet: exit 0, three instruments updated, each in its own folder"
fi
exit "$failed"
