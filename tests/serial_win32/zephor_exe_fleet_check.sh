#!/bin/sh
# zephor.exe fleet under Wine on the three simulated instruments behind COM5, COM6 and COM7
# (wine_fleet_ports.sh): one fleet updates all three at once, each in its own folder, and ends
# with 0; the report says 0 for each, the main program each was given, and each simulator runs
# the new main afterwards.
# Wine now and then ends a program at its start (code 1, no output at all, within a few
# milliseconds, before the program's own code has run): such a start of the fleet is made once
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
image main.bin 'Version xx1.35 Build xx5    ' 2000 m

windows() { winepath -w "$1" 2>/dev/null; }
run_fleet() {
  wine "$exe" fleet COM5 COM6 COM7 --yes --images "$(windows "$work/images")" \
    --out "$(windows "$work/out")" --json "$(windows "$work/report.json")" \
    >"$work/fleet.out" 2>"$work/fleet.err" </dev/null
}
run_fleet
code=$?
if [ "$code" -ne 0 ] && [ ! -s "$work/fleet.out" ] && [ ! -s "$work/fleet.err" ]; then
  echo "Wine ended zephor.exe fleet at its start (code $code, no output); starting it once more"
  run_fleet
  code=$?
fi

failed=0
fail() {
  echo "zephor.exe fleet: $*" >&2
  failed=1
}
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
  echo "--- standard output" >&2
  cat "$work/fleet.out" >&2
  echo "--- standard error" >&2
  cat "$work/fleet.err" >&2
  [ -f "$work/report.json" ] && { echo "--- report" >&2; cat "$work/report.json" >&2; }
else
  echo "zephor.exe fleet COM5 COM6 COM7: exit 0, three instruments updated, each in its own folder"
fi
exit "$failed"
