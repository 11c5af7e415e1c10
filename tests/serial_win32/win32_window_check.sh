#!/bin/sh
# Drives zephor-update.exe under Wine on a virtual X display of its own, with the simulated
# instrument behind COM1 (wine_sim_port.sh): presses Info ZEPHOR, checks that the instrument's
# report was shown and that the simulator was asked for it. Then it starts the simulator anew,
# paced at 9600 baud with surveys in its memory, presses Make Update and looks at the window
# (window_probe.exe) in the middle of the memory's download: the status line, the bar, the title
# and the log's newest line; it scrolls the log up and finds it still there at the end, and the
# bar empty after the run. The simulator is put back as the other tests know it. It closes the
# window with Esc and checks that the program ends with 0; then starts it with --choose-folder,
# as the Start-menu entry does, and checks that it asks for the folder and that Cancel ends it
# with 0.
#   win32_window_check.sh ZEPHOR_UPDATE_EXE SIM_LINE_DIR WORK_DIR WINEPREFIX PROBE_EXE \
#                         SIM_PORT_SCRIPT ZEPHOR_SIM [SIM OPTIONS...]
# Ends with 77 (a skip) when Xvfb or xdotool is missing.
set -u
[ $# -ge 7 ] || {
  echo "usage: win32_window_check.sh EXE SIM_LINE_DIR WORK_DIR WINEPREFIX PROBE SIM_PORT ZEPHOR_SIM [OPTIONS...]" >&2
  exit 2
}
exe=$1
sim_lines=$2
work=$3
export WINEPREFIX="$4"
probe=$5
sim_port=$6
sim=$7
shift 7
# What remains are the options the simulator runs with for the other tests (no spaces in them).
sim_options="$*"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
skip=77
# Each wait is in tenths of a second; a loaded machine gets a few seconds for each step.
display_tries=50
window_tries=100
report_tries=300
# A run is given this many tenths of a second to reach each of its steps.
run_tries=300
# The window is looked at this long after its status line first named the download.
into_download_s=2
# A press that reached nothing (no command at the simulator, no line on stderr) is made again
# after this many tenths of a second, at most press_attempts times in all.
press_tries=80
press_attempts=3
exit_limit_s=10
# Exit codes from here on are a shell's report of a signal.
killed_codes=128
window_title="ZEPHOR Update Program"
desktop_name=zephor-check
desktop_size=640x480
sim_log="$sim_lines/sim.log"

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is needed to drive the window"; exit "$skip"; }
done
[ -x "$exe" ] || { echo "no program $exe" >&2; exit 1; }
[ -f "$sim_log" ] || { echo "no simulator log $sim_log: is zephor-sim behind COM1?" >&2; exit 1; }
mkdir -p "$work"
rm -f "$work/display" "$work/update.out" "$work/update.err"

xvfb_pid=""
exe_pid=""
sim_changed=""
cleanup() {
  [ -z "$exe_pid" ] || kill "$exe_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  # The other tests find the instrument they know behind COM1.
  # shellcheck disable=SC2086 # one word each
  [ -z "$sim_changed" ] || sh "$sim_port" start "$sim_lines" "$WINEPREFIX" "$sim" $sim_options >/dev/null
}
trap cleanup EXIT
fail() {
  echo "win32_window_check: $*" >&2
  echo "--- zephor-update.exe stderr:" >&2
  cat "$work/update.err" >&2 2>/dev/null
  exit 1
}
# Waits until the command succeeds, a tenth of a second apart, at most TRIES times.
wait_for() {
  tries=$1
  shift
  n=0
  until "$@"; do
    n=$((n + 1))
    [ "$n" -le "$tries" ] || return 1
    sleep 0.1
  done
}

# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 "${desktop_size}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for "$display_tries" test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"

# The test run's Wine server made its default desktop without a display, and a program there
# draws nowhere; a desktop of its own, made by the program on this display, shows the window.
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop_name" /d "$desktop_size" /f \
  >/dev/null 2>&1 || fail "the desktop could not be set up"
for program in zephor-update.exe window_probe.exe; do
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\Explorer" /v Desktop \
    /d "$desktop_name" /f >/dev/null 2>&1 || fail "the desktop could not be set up"
done

# Only what the simulator logs from here on counts.
sim_lines_before=$(wc -l <"$sim_log")

# The window works in its folder: the images of a Make Update there, and what the restore writes.
images="$work/images"
rm -rf "$images"
mkdir -p "$images"
image() { { head -c 16 /dev/zero | tr '\0' "$4"; printf '%s' "$2"; head -c "$3" /dev/zero | tr '\0' "$4"; } >"$images/$1"; }
image boot.bin 'Version xx1.3  ' 300 b
image update.bin 'Version xx1.3  ' 400 u
image newboot.bin '' 260 n
image main.bin 'Version xx1.40 Build xx5    ' 700 m

(cd "$images" && exec wine "$exe") >"$work/update.out" 2>"$work/update.err" &
exe_pid=$!
window=""
find_window() {
  window=$(xdotool search --name "^$window_title" 2>/dev/null | head -n 1)
  [ -n "$window" ]
}
if ! wait_for "$window_tries" find_window; then
  kill -0 "$exe_pid" 2>/dev/null && state="still running" || state="gone"
  fail "the window did not open (the program is $state; windows on $DISPLAY:" \
    "$(xdotool search --name "" getwindowname %@ 2>/dev/null | tr '\n' '|'))"
fi
# The focus starts on Make Update; Info ZEPHOR is two tab stops on. The keys go through the X
# test extension to the focused window: Wine ignores synthetic events. A window just made may
# not take the focus yet (a fresh Wine prefix makes its desktop first), so the focus is checked.
focus_target=""
focused() {
  desktop=$(xdotool search --onlyvisible --name "^$desktop_name" 2>/dev/null | head -n 1)
  focus_target=${desktop:-$window}
  xdotool windowfocus --sync "$focus_target" >/dev/null 2>&1 || return 1
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$focus_target" ]
}
sim_asked_anything() { [ "$(wc -l <"$sim_log")" -gt "$sim_lines_before" ]; }
press_reached() { [ -s "$work/update.err" ] || sim_asked_anything; }
attempt=1
while :; do
  wait_for "$window_tries" focused || fail "the window $focus_target did not take the focus"
  xdotool key --delay 200 Tab Tab space
  wait_for "$press_tries" press_reached && break
  [ "$attempt" -lt "$press_attempts" ] || fail "Info ZEPHOR was pressed $attempt times and nothing happened"
  attempt=$((attempt + 1))
done

# The report's lines reach stderr as the log box shows them; the card number is its last line.
report_shown() { grep -q "Number card" "$work/update.err"; }
wait_for "$report_tries" report_shown ||
  fail "no instrument report after Info ZEPHOR; the simulator logged:" \
    "$(tail -n +"$((sim_lines_before + 1))" "$sim_log")"
# The values zephor-sim was started with (CMakeLists.txt), in the report's own form.
for line in "Main version	: 1.31" "Boot version	: 1.2" "Grade		: QH" "Number equipment	: 4242"; do
  grep -qF "$line" "$work/update.err" || fail "the report lacks \"$line\""
done
# The panel was opened for the question and locked again after it (the lock may follow the
# report by a moment).
asked=""
asked_for_report() {
  asked=$(tail -n +"$((sim_lines_before + 1))" "$sim_log" |
    sed -n 's/^zephor-sim: command "\(.*\)"$/\1/p' | tr '\n' ' ')
  case "$asked" in
    *"UNLOCK system LOCK"*) return 0 ;;
    *) return 1 ;;
  esac
}
wait_for "$report_tries" asked_for_report ||
  fail "the simulator was asked \"$asked\", not UNLOCK, system, LOCK"

# Make Update on a "QH" instrument on main 1.31 with boot and update 1.2: four images, then the
# restore, whose download of 8000 bytes takes about eight seconds at 9600 baud.
sh "$sim_port" start "$sim_lines" "$WINEPREFIX" "$sim" --main 1.31 --boot 1.2 --update 1.2 \
  --build 5 --grade QH --equipment 4242 --ready-delay 300 --generate-db 7:8000 --paced \
  >/dev/null || fail "the paced simulator did not start"
sim_changed=1
sample=""
look() { sample=$(wine "$probe" sample 2>/dev/null | tr -d '\r'); }
field() { printf '%s\n' "$sample" | sed -n "s/^$1=//p"; }
# The per cent just before " %" after the given text, or nothing.
percent_after() { printf '%s\n' "$1" | sed -n "s/^$2\(.*[^0-9]\)\{0,1\}\([0-9][0-9]*\) %.*/\2/p"; }
wine "$probe" press 1001 || fail "Make Update could not be pressed"
downloading() { look && field status | grep -q "^Receiving ZEPHORdata.bin: "; }
wait_for "$run_tries" downloading || fail "the download never showed; the window showed: $sample"
sleep "$into_download_s"
look
status=$(field status)
percent=$(percent_after "$status" "Receiving ZEPHORdata.bin: ")
bar=$(field bar)
run=$(percent_after "$(field title)" "$window_title V1.40 - ")
echo "win32_window_check: in the download: $status | bar $bar | $(field title)"
[ -n "$percent" ] && [ "$percent" -ge 1 ] && [ "$percent" -le 99 ] ||
  fail "the status line \"$status\" has no per cent between 1 and 99"
[ "$bar" = "$percent" ] || fail "the bar stands at $bar, the status line says $percent %"
[ -n "$run" ] && [ "$run" -ge 1 ] && [ "$run" -le 99 ] ||
  fail "the title \"$(field title)\" has no run per cent between 1 and 99"
[ "$(field newest)" = "	Read Data ZEPHOR" ] || fail "the log's newest line is not the download's: $sample"
[ "$(field newest_shown)" = 1 ] || fail "the log's newest line is out of view: $sample"
# Scrolled up by the technician, the log stays there while the run adds its lines.
first=$(field first)
wine "$probe" scroll -2
look
scrolled=$(field first)
[ "$scrolled" -lt "$first" ] || fail "the log did not scroll up from line $first: $sample"
restart_asked() { look && [ "$(field box)" = "Restart the ZEPHOR !!" ]; }
wait_for "$run_tries" restart_asked || fail "the run did not end with the restart message: $sample"
[ "$(field first)" = "$scrolled" ] || fail "the log moved from line $scrolled: $sample"
[ "$(field newest_shown)" = 0 ] || fail "the scrolled log shows the newest line: $sample"
wine "$probe" answer || fail "the restart message could not be answered"
idle() { look && [ -z "$(field box)" ] && [ -z "$(field status)" ]; }
wait_for "$window_tries" idle || fail "the window did not go idle after the run: $sample"
[ "$(field bar)" -le "$(field barlow)" ] || fail "the bar stands at $(field bar) after the run"
[ "$(field title)" = "$window_title V1.40" ] || fail "the title is \"$(field title)\" after the run"
grep -q "Write Data to ZEPHOR." "$work/update.err" || fail "the restore did not write the data back"

# Presses Esc and waits for the program to end with 0.
escape_ends_it() {
  xdotool key Escape
  # A watchdog ends the program if it is still there after the limit.
  (sleep "$exit_limit_s"; kill "$exe_pid" 2>/dev/null) >/dev/null 2>&1 &
  watchdog_pid=$!
  wait "$exe_pid"
  code=$?
  kill "$watchdog_pid" 2>/dev/null || true
  exe_pid=""
  [ "$code" -lt "$killed_codes" ] || fail "the program did not end within $exit_limit_s s of Esc"
  [ "$code" -eq 0 ] || fail "the program ended with $code, not 0"
}
# Esc is the window's Cancel: the program ends at once when idle. The keys go to the window
# that has the focus; the probe's presses may have moved it.
wait_for "$window_tries" focused || fail "the window $focus_target did not take the focus"
escape_ends_it
echo "win32_window_check: Info ZEPHOR showed the report, Make Update its progress; Esc ended the program with 0"

# Started as the Start-menu entry starts it, the program first asks for its working folder;
# Cancel there ends it before the window opens.
wine "$exe" --choose-folder >"$work/update.out" 2>"$work/update.err" &
exe_pid=$!
find_folder_dialog() {
  window=$(xdotool search --name "^Browse for Folder" 2>/dev/null | head -n 1)
  [ -n "$window" ]
}
wait_for "$window_tries" find_folder_dialog ||
  fail "zephor-update.exe --choose-folder asked for no folder"
# The dialog is named before it fills its tree of folders, and a key until then reaches nothing:
# Esc is pressed again until the program is gone.
program_gone() { ! kill -0 "$exe_pid" 2>/dev/null; }
attempt=1
while :; do
  wait_for "$window_tries" focused || fail "the folder dialog $focus_target did not take the focus"
  xdotool key Escape
  wait_for "$press_tries" program_gone && break
  [ "$attempt" -lt "$press_attempts" ] || fail "Esc was pressed $attempt times and the folder dialog stayed"
  attempt=$((attempt + 1))
done
wait "$exe_pid"
code=$?
exe_pid=""
[ "$code" -eq 0 ] || fail "the folder dialog's Cancel ended the program with $code, not 0"
echo "win32_window_check: --choose-folder asked for the folder; Cancel ended the program with 0"
