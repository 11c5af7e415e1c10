#!/bin/sh
# Drives zephor.exe under Wine against the simulated instrument behind COM1 (wine_sim_port.sh):
# info as text and as JSON, an update whose images the instrument already runs, and a port that
# answers nothing; each with the exit code the README lists.
#   zephor_exe_check.sh ZEPHOR_EXE WORK_DIR WINEPREFIX
set -u
[ $# -eq 3 ] || { echo "usage: zephor_exe_check.sh EXE WORK_DIR WINEPREFIX" >&2; exit 2; }
exe=$1
work=$2
export WINEPREFIX="$3"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -x "$exe" ] || { echo "no program $exe" >&2; exit 1; }
mkdir -p "$work"
failed=0

# Judges a run of zephor.exe: its exit code and whether its output (in the file) holds the text.
judge() {
  want_code=$1
  want_text=$2
  code=$3
  out=$4
  shift 4
  if [ "$code" -ne "$want_code" ] || ! grep -qF -- "$want_text" "$out"; then
    printf 'zephor.exe %s: exit %s (wanted %s), output without "%s":\n' "$*" "$code" "$want_code" \
      "$want_text" >&2
    cat "$out" >&2
    failed=1
  else
    printf 'zephor.exe %s: exit %s as wanted\n' "$*" "$code"
  fi
}

# Runs zephor.exe with the arguments and judges it.
check() {
  want_code=$1
  want_text=$2
  shift 2
  wine "$exe" "$@" >"$work/out.txt" 2>&1 </dev/null
  judge "$want_code" "$want_text" $? "$work/out.txt" "$@"
}

# Nothing answers on COM4, whether Wine finds a device behind it or not: its waits run beside the
# checks on COM1.
wine "$exe" info COM4 >"$work/com4.txt" 2>&1 </dev/null &
com4=$!

# Images at the versions zephor-sim was started with (CMakeLists.txt): nothing to load.
image() { { printf '%s' "$2"; head -c "$3" /dev/zero | tr '\0' "$4"; } >"$work/$1"; }
image boot.bin 'Version xx1.2  ' 300 b
image update.bin 'Version xx1.2  ' 300 u
image newboot.bin '' 200 n
image main.bin 'Version xx1.31 Build xx5    ' 600 m

check 0 "Number equipment	: 4242" info COM1
check 0 '"equipmentNumber": 4242' info COM1 --json
check 0 "up to date" update COM1 --yes --images "$(winepath -w "$work" 2>/dev/null)"
wait "$com4"
judge 3 "No ZEPHOR connected" $? "$work/com4.txt" info COM4
check 0 "zephor 1.40" --version
exit "$failed"
