#!/usr/bin/env bash
# The packaged recorder end to end under Wine on an X display, driven as a user drives it:
# real pointer clicks (xdotool), screenshots (ImageMagick), the shell's calls observed
# through QUILLMAR_SHELL_LOG, recordings decoded by mpg123 and measured by app_pitch.py.
#   app_window_test.sh BUILD_DIR WORK_DIR
# The window lies at its own position; every click and pixel is relative to it.
set -uo pipefail
build=$(realpath "$1")
work=$(realpath -m "$2")
here=$(dirname "$(realpath "$0")")
source_dir=$(realpath "$here/../..")
wine_run=$build/wine-run.sh
: "${DISPLAY:?an X display is needed (run under xvfb-run -a)}"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
note() { echo "  $*"; }

rm -rf "$work"
mkdir -p "$work"
zip=$(bash "$source_dir/tools/package-windows.sh" "$work/package") || { echo "FAIL: no package"; exit 1; }
unzip -q "$zip" -d "$work/unpacked"
app=$work/unpacked/QuillmarRecorder-1.5-win64
[ "$(ls "$app" | tr '\n' ' ')" = "Effects GetUpdate.exe Pravik.dll QuillmarRecorder.exe UI lang.ini " ] ||
  fail "package holds: $(ls "$app" | tr '\n' ' ')"

# The microphone plays a 140 Hz tone; every effect's pitch factor is known on it.
sox -q -n -r 44100 -c 1 -b 16 "$work/tone.wav" synth 14 sine 140 vol 0.5
export QUILLMAR_VMIC_WAV="Z:$work/tone.wav" QUILLMAR_VMIC_BUFFER_MS=10
export QUILLMAR_SHELL_LOG="Z:$work/shell.log"
touch "$work/shell.log"
prefix_user=$(ls -d "$build"/wineprefix/drive_c/users/*/Documents/.. | grep -v Public | head -1)
recordings=$prefix_user/Documents/Quillmar/Audio
settings=$prefix_user/AppData/Roaming/Quillmar/Audio/AudioRec.ini

# find_window TRIES: waits up to TRIES x 50 ms for the recorder's window; sets win.
find_window() {
  win=""
  for _ in $(seq "$1"); do
    win=$(xdotool search --onlyvisible --name '^Corvessa$' 2>/dev/null | head -1)
    [ -n "$win" ] && return 0
    sleep 0.05
  done
  return 1
}
# start DIR [ENV...]: launches the program and waits for its window; sets pid, win, x, y.
start() {
  local dir=$1
  shift
  local t0
  t0=$(date +%s%N)
  env "$@" "$wine_run" "$dir/QuillmarRecorder.exe" &
  pid=$!
  find_window 200 || { fail "no window from $dir"; return 1; }
  started_ms=$((($(date +%s%N) - t0) / 1000000))
  sleep 1  # the first paint and the panel's posted category
  eval "$(xdotool getwindowgeometry --shell "$win")"
  x=$X y=$Y
  [ "${WIDTH}x${HEIGHT}" = "465x200" ] || fail "window is ${WIDTH}x${HEIGHT}, not 465x200"
}
# Off every button, so that no tooltip or hot face is in a screenshot.
away() { xdotool mousemove --window "$win" 120 180; sleep 0.8; }
click() { xdotool mousemove --window "$win" "$1" "$2" click "${3:-1}"; }
double_click() { xdotool mousemove --window "$win" "$1" "$2" click --repeat 2 --delay 80 1; }
shot() { import -window root -crop "465x200+$x+$y" +repage "$work/$1.png"; }
# crop NAME W H X Y OUT
crop() { convert "$work/$1.png" -crop "$2x$3+$4+$5" +repage "$work/$6.png"; }
same() { [ "$(compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1)" = "0" ]; }
# rgb NAME X Y -> "r g b" (0-255)
rgb() {
  convert "$work/$1.png" -format '%[fx:int(255*p{'"$2,$3"'}.r)] %[fx:int(255*p{'"$2,$3"'}.g)] %[fx:int(255*p{'"$2,$3"'}.b)]' info:
}
bright_share() {
  convert "$work/$1.png" -crop "$2x$3+$4+$5" -colorspace gray -threshold 30% -format '%[fx:mean]' info:
}
# wait_ended PID: waits up to 10 s for the process to end.
wait_ended() { for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done; }
stop_app() {
  click 438 17
  wait_ended "$pid"
  kill -0 "$pid" 2>/dev/null && { fail "the window did not close"; kill "$pid"; }
  wait "$pid" 2>/dev/null
}
opens() { grep -c '^open ' "$work/shell.log"; }
wait_open() {  # waits for the shell log to hold $1 openings
  for _ in $(seq 150); do [ "$(opens)" -ge "$1" ] && return 0; sleep 0.1; done
  return 1
}
now() { date +%s.%N; }
# watch_times MS NAME: in the background, the texts inside the window whenever they change
watch_times() {
  "$wine_run" "$build/bin/app_post.exe" --watch "$1" 2>/dev/null | tr -d '\r' >"$work/$2-texts.txt" &
  sleep 0.5  # the watcher is looking before the click
}
# times_shown NAME: the distinct times the display showed, in order, on one line
times_shown() { grep -oE '[0-9]{2}:[0-9]{2}:[0-9]{2}' "$work/$1-texts.txt" | uniq | tr '\n' ' ' | sed 's/ $//'; }

# record_with NAME SECONDS FACTOR TOLERANCE: Record, wait, Record; the newest recording must be
# as long as the time between the clicks (within 0.3 s) and carry the tone at FACTOR times its
# pitch (within TOLERANCE, a share).
record_with() {
  local name=$1 seconds=$2 factor=$3 tolerance=$4 before t0 t1 watcher
  before=$(opens)
  watch_times $((seconds * 1000 + 2500)) "$name"
  watcher=$!
  click 233 169
  t0=$(now)
  away
  sleep 0.6
  shot "$name-1s"
  sleep 1
  shot "$name-2s"
  sleep "$(echo "$seconds - 2.4" | bc)"
  click 233 169
  t1=$(now)
  wait_open $((before + 1)) || fail "$name: the recording folder was not opened"
  local newest
  newest=$(ls -t "$recordings"/Aud*.mp3 2>/dev/null | head -1)
  [ -n "$newest" ] || { fail "$name: no recording"; return; }
  mpg123 -q -w "$work/$name.wav" "$newest" 2>/dev/null || { fail "$name: mpg123 cannot decode $newest"; return; }
  read -r length sounding f0 < <(python3 "$here/app_pitch.py" "$work/$name.wav")
  local clicked
  clicked=$(echo "$t1 - $t0" | bc)
  note "$name: clicks $clicked s apart, sounding $sounding s of $length s, f0 $f0 Hz"
  awk -v a="$sounding" -v b="$clicked" 'BEGIN { exit !(a - b <= 0.3 && b - a <= 0.3) }' ||
    fail "$name: $sounding s recorded for $clicked s between the clicks"
  awk -v f="$f0" -v k="$factor" -v t="$tolerance" 'BEGIN { r = f / 140 / k; exit !(r > 1 - t && r < 1 + t) }' ||
    fail "$name: f0 $f0 Hz is not 140 Hz x $factor"
  # The display counts: one second and two seconds differ only in the last digit.
  crop "$name-1s" 80 24 264 166 "$name-time1"
  crop "$name-2s" 80 24 264 166 "$name-time2"
  crop "$name-1s" 50 24 264 166 "$name-prefix1"
  crop "$name-2s" 50 24 264 166 "$name-prefix2"
  same "$name-time1" "$name-time2" && fail "$name: the time display did not change"
  same "$name-prefix1" "$name-prefix2" || fail "$name: more than the seconds changed"
  wait "$watcher"
  local shown
  shown=$(times_shown "$name")
  note "$name: the display showed $shown"
  # From 00:00:00 up, second by second (a tick late under load may skip one), to the time
  # between the clicks.
  echo "$shown" | awk -v c="$clicked" '{
      for (i = 1; i <= NF; ++i) { split($i, t, ":"); s[i] = t[1] * 3600 + t[2] * 60 + t[3] }
      ok = $1 == "00:00:00" && NF >= 3
      for (i = 2; i <= NF; ++i) ok = ok && s[i] > s[i - 1] && s[i] - s[i - 1] <= 2
      exit !(ok && s[NF] <= c && s[NF] >= int(c) - 1) }' ||
    fail "$name: the display did not count the seconds (it showed $shown)"
}

echo "== the window, an effect, three recordings"
# A planted stored folder naming a program must never be run by request 0.
mkdir -p "$(dirname "$settings")"
printf '[Capture]\r\nAudio=C:\\windows\\notepad.exe\r\n' >"$settings"
start "$app" || exit 1
note "window after $started_ms ms"
away
shot idle
cp "$work/idle.png" "$work/artefact-idle.png"
read -r r g b < <(rgb idle 222 169)
[ "$r" -gt 150 ] && [ "$g" -lt 110 ] || fail "no red Record button at its place ($r $g $b)"
read -r r g b < <(rgb idle 200 190)
[ "$r" -gt 10 ] && [ "$r" -lt 90 ] || fail "the frame pattern is not behind the capture bar ($r $g $b)"
awk -v s="$(bright_share idle 60 20 40 10)" 'BEGIN { exit !(s > 0.05) }' || fail "no title text"
crop idle 80 24 264 166 idle-time

double_click 232 105
record_with baby 3 2.5198421 0.01
cp "$work/baby-2s.png" "$work/artefact-recording.png"
crop baby-2s 42 42 212 148 recording-button
crop idle 42 42 212 148 idle-button
same recording-button idle-button && fail "Record is not drawn as a selected toggle while recording"
away
shot after-stop
crop after-stop 80 24 264 166 after-time
same after-time idle-time || fail "the time display is still shown after the stop"
crop after-stop 42 42 212 148 after-button
same after-button idle-button || fail "Record keeps a highlighted face after the stop"

double_click 143 105
# The vocoder places each partial within a fraction of its 43 Hz bin: at 79 Hz that fraction
# is a larger share of the pitch than at 353 Hz, hence 2 %.
record_with female-to-male 3 0.5612310 0.02
double_click 143 105  # deselected: no effect
record_with plain 3 1 0.01

echo "== requests: About, folders"
click 22 20
sleep 0.7
xdotool mousemove $((x + 40)) $((y + 59)) click 1
sleep 0.7
grep -q 'GetUpdate.exe -ABOUT$' "$work/shell.log" || fail "About did not start GetUpdate.exe -ABOUT"
before=$(opens)
"$wine_run" "$build/bin/app_post.exe" 1132 1 0
"$wine_run" "$build/bin/app_post.exe" 1132 3 0
"$wine_run" "$build/bin/app_post.exe" 1132 0 0
sleep 1
# Request 1 opens the recording folder and 3 nothing; request 0 opens the stored folder only
# once the settings step has put a real folder in place of the planted program, and never runs
# the program itself.
opened=$(($(opens) - before))
{ [ "$opened" -ge 1 ] && [ "$opened" -le 2 ]; } || fail "requests 1, 3 and a planted 0 opened $opened folders"
grep -qi 'notepad' "$work/shell.log" && fail "request 0 handed the planted program to the shell"
tail -1 "$work/shell.log" | grep -q 'Quillmar\\Audio\\$' || fail "request 1 opened: $(tail -1 "$work/shell.log")"
# Request 2 opens the shared effects folder, once it is there.
mkdir -p "$build/wineprefix/drive_c/users/Public/Quillmar/WebCam/Effects"
before=$(opens)
"$wine_run" "$build/bin/app_post.exe" 1132 2 0
wait_open $((before + 1)) || fail "request 2 opened nothing"
tail -1 "$work/shell.log" | grep -qi '\\Public\\Quillmar\\WebCam\\Effects\\$' ||
  fail "request 2 opened: $(tail -1 "$work/shell.log")"

echo "== a device that is not there"
files=$(ls "$recordings"/Aud*.mp3 | wc -l)
before=$(opens)
"$wine_run" "$build/bin/app_post.exe" 0x111 7040 0  # the device menu's eleventh entry
sleep 0.5
click 233 169
away
shot no-device
crop no-device 80 24 264 166 no-device-time
same no-device-time idle-time && fail "a failed start says nothing in the window"
sleep 3.5
shot no-device-later
crop no-device-later 80 24 264 166 no-device-later-time
same no-device-later-time idle-time || fail "the failed start's notice stays"
[ "$(opens)" -eq "$before" ] && [ "$(ls "$recordings"/Aud*.mp3 | wc -l)" -eq "$files" ] ||
  fail "a failed start recorded or opened the folder"
"$wine_run" "$build/bin/app_post.exe" 0x111 7030 0

echo "== a second start"
t0=$(date +%s%N)
"$wine_run" "$app/QuillmarRecorder.exe"
second_ms=$((($(date +%s%N) - t0) / 1000000))
note "the second process ended after $second_ms ms"
[ "$second_ms" -lt 5000 ] || fail "the second process took $second_ms ms"
[ "$(xdotool search --onlyvisible --name '^Corvessa$' | wc -l)" -eq 1 ] || fail "two windows"

echo "== closing during a recording, and a start while it closes"
click 233 169
sleep 2
t0=$(date +%s%N)
click 438 17
# The window goes first and the recording is finished after it: a start made in between
# must not be lost.
for _ in $(seq 100); do xdotool search --onlyvisible --name '^Corvessa$' >/dev/null || break; sleep 0.05; done
restarted=""
if kill -0 "$pid" 2>/dev/null; then
  "$wine_run" "$app/QuillmarRecorder.exe" &
  restarted=$!
fi
wait_ended "$pid"
close_ms=$((($(date +%s%N) - t0) / 1000000))
wait "$pid" 2>/dev/null
note "closed after $close_ms ms"
if [ -n "$restarted" ]; then
  if find_window 300 && kill -0 "$restarted" 2>/dev/null; then
    pid=$restarted
    sleep 1  # its first paint
    stop_app
  else
    fail "a start made while the window closed was lost"
  fi
else
  note "the recorder ended before a start could be made while it closed"
fi
[ "$close_ms" -ge 800 ] || fail "closing took only $close_ms ms"
newest=$(ls -t "$recordings"/Aud*.mp3 | head -1)
mpg123 -q -w "$work/closed.wav" "$newest" 2>/dev/null || fail "the file of a closed recording does not decode"
read -r _ sounding _ < <(python3 "$here/app_pitch.py" "$work/closed.wav")
awk -v s="$sounding" 'BEGIN { exit !(s > 1.5) }' || fail "the closed recording holds $sounding s"

echo "== two starts at the same moment"
"$wine_run" "$app/QuillmarRecorder.exe" &
first=$!
"$wine_run" "$app/QuillmarRecorder.exe" &
second=$!
sleep 6
[ "$(xdotool search --onlyvisible --name '^Corvessa$' | wc -l)" -eq 1 ] ||
  fail "$(xdotool search --onlyvisible --name '^Corvessa$' | wc -l) windows after two starts"
alive=0
for p in $first $second; do kill -0 "$p" 2>/dev/null && alive=$((alive + 1)); done
[ "$alive" -eq 1 ] || fail "$alive instances remain"
win=$(xdotool search --onlyvisible --name '^Corvessa$' | head -1)
pid=$first
kill -0 "$first" 2>/dev/null || pid=$second
stop_app
wait 2>/dev/null

echo "== the four-hour stop"
files=$(ls "$recordings"/Aud*.mp3 | wc -l)
before=$(opens)
start "$app" QUILLMAR_CLOCK_AHEAD_MS=14397000 || exit 1
watch_times 7500 limit
watcher=$!
sleep 0.5  # a new second, so the recording gets its own file name
click 233 169
sleep 7
wait "$watcher"
shown=$(times_shown limit)
note "the display showed $shown"
# The clock starts 3 s short of the limit: the display counts up to it and is gone with the
# stop, which cuts the take at 4 h, that is after about 3 s of sound.
case "${shown##* }" in
  03:59:58 | 03:59:59 | 04:00:00 | 04:00:01) ;;
  *) fail "the display did not count up to the limit (it showed $shown)" ;;
esac
grep -qE '[0-9]{2}:[0-9]{2}:[0-9]{2}' <(tail -n 1 "$work/limit-texts.txt") &&
  fail "the time display is still shown after the limit's stop"
mpg123 -q -w "$work/limit.wav" "$(ls -t "$recordings"/Aud*.mp3 | head -1)" 2>/dev/null
read -r length _ < <(python3 "$here/app_pitch.py" "$work/limit.wav")
note "the limit's recording: $length s"
awk -v l="$length" 'BEGIN { exit !(l > 2.5 && l < 3.7) }' || fail "the limit cut the take at $length s, not at 4 h"
[ "$(opens)" -eq $((before + 1)) ] || fail "the limit stopped $(($(opens) - before)) times"
[ "$(ls "$recordings"/Aud*.mp3 | wc -l)" -eq $((files + 1)) ] || fail "the limit started another recording"
away
shot limit-after
crop limit-after 42 42 212 148 limit-button
same limit-button idle-button || fail "Record is not idle after the limit"
stop_app

echo "== the menu open and a drag held during a recording, up to the four-hour stop"
# While the menu is open or the window is dragged the system's loops run, not the program's:
# the time must still count, and the limit's stop still come.
before=$(opens)
start "$app" QUILLMAR_CLOCK_AHEAD_MS=14394000 || exit 1
watch_times 10000 drag
watcher=$!
sleep 0.5
click 233 169
click 22 20  # the menu
sleep 0.5
shot menu-1
sleep 1.2
shot menu-2
crop menu-1 80 24 264 166 menu-time1
crop menu-2 80 24 264 166 menu-time2
same menu-time1 menu-time2 && fail "the time display stood still while the menu was open"
xdotool key Escape
xdotool mousemove $((x + 5)) $((y + 100)) mousedown 1  # the background left of the panel
for i in $(seq 35); do
  sleep 0.15
  xdotool mousemove $((x + 5 + i % 2 * 2)) $((y + 100))
done
stopped_during_drag=$(($(opens) - before))
xdotool mouseup 1
wait "$watcher"
shown=$(times_shown drag)
note "menu open 1.7 s, then a drag held 5 s: the display showed $shown"
[ "$(echo "$shown" | wc -w)" -ge 6 ] || fail "the time display stood still while the window was dragged ($shown)"
[ "$stopped_during_drag" -eq 1 ] || fail "the four-hour stop waited for the drag to end"
eval "$(xdotool getwindowgeometry --shell "$win")"
x=$X y=$Y
stop_app

echo "== a disk that fills up during a recording"
# The recording folder on a small disk of its own: the recording stops while the file can
# still be finished, the time field says so for three seconds, and the file plays whole.
if mount -t tmpfs -o size=160k tmpfs "$recordings" 2>/dev/null; then
  trap 'umount "$recordings" 2>/dev/null' EXIT  # never left behind on an early exit
  before=$(opens)
  start "$app" || exit 1
  watch_times 16000 full
  watcher=$!
  click 233 169
  for _ in $(seq 30); do [ "$(opens)" -gt "$before" ] && break; sleep 0.5; done
  [ "$(opens)" -gt "$before" ] || fail "the recording did not stop on a full disk"
  sleep 3.5
  away
  shot full-later
  crop full-later 80 24 264 166 full-later-time
  same full-later-time idle-time || fail "the full disk's notice stays"
  wait "$watcher"
  note "the time field showed: $(grep -oE '[0-9]{2}:[0-9]{2}:[0-9]{2}|Disk full' "$work/full-texts.txt" | uniq | tr '\n' ' ')"
  grep -q 'Disk full' "$work/full-texts.txt" || fail "a full disk said nothing in the window"
  full=$(ls "$recordings"/Aud*.mp3 2>/dev/null | head -1)
  if [ -z "$full" ] || ! mpg123 -q -w "$work/full.wav" "$full" 2>/dev/null; then
    fail "the recording on the full disk does not decode"
  else
    read -r length _ < <(python3 "$here/app_pitch.py" "$work/full.wav")
    # mpg123's progress line: the time played and the time left by the Info frame.
    claimed=$(mpg123 -t -v "$full" 2>&1 | tr '\r' '\n' | grep -m1 -oE '[0-9]+:[0-9.]+\+[0-9]+:[0-9.]+' |
      awk -F'[:+]' '{ print $1 * 60 + $2 + $3 * 60 + $4 }')
    note "the full disk kept $length s; its Info frame claims $claimed s"
    awk -v l="$length" -v c="$claimed" 'BEGIN { exit !(l > 2 && c - l < 0.1 && l - c < 0.1) }' ||
      fail "the full disk's recording holds $length s and claims $claimed s"
  fi
  stop_app
  umount "$recordings"
  trap - EXIT
else
  note "no tmpfs could be mounted: the full disk is not tried"
fi

echo "== bad files beside the program"
bad=$work/bad
cp -r "$app" "$bad"
head -c 100 "$app/UI/Themes/Default/Frame.bmp" >"$bad/UI/Themes/Default/Frame.bmp"
printf 'BM garbage' >"$bad/UI/Themes/Default/Content.bmp"
rm "$bad/UI/Buttons/DoCapture/Normal.ico"
printf '[Effect]\r\nIndex=99999999999\r\nItemCount=-5\r\nName=%s\r\n' "$(head -c 3000 /dev/zero | tr '\0' x)" \
  >"$bad/Effects/Broken.cef"
head -c 4000 /dev/urandom >"$bad/Effects/Random.cef"
python3 -c "
import sys
text = '[0409]\r\nAbout Corvessa=' + 'A' * 5000 + '\r\nCapture=' + 'B' * 5000 + '\r\n'
open(sys.argv[1], 'wb').write(b'\xff\xfe' + text.encode('utf-16-le'))" "$bad/lang.ini"
start "$bad" || exit 1
click 22 20
sleep 0.7
xdotool key Escape
click 233 169
sleep 2
click 233 169
sleep 2
kill -0 "$pid" 2>/dev/null || fail "the window with bad files ended"
stop_app

echo "== folder names outside ASCII: Latin-1, Cyrillic, Chinese"
# The theme, the buttons and the catalogue (its thumbnails) load from any folder name: the
# window looks as it does from the plain folder.
start "$app" || exit 1
away
shot plain-folder
crop plain-folder 440 100 10 40 plain-panel
stop_app
for name in Récorder Запись 录音; do
  cp -a "$app" "$work/$name"  # the same times: the catalogue orders by them
  start "$work/$name" || exit 1
  away
  shot "folder-$name"
  crop "folder-$name" 42 42 212 148 "folder-$name-button"
  crop "folder-$name" 440 100 10 40 "folder-$name-panel"
  same "folder-$name-button" idle-button || fail "the buttons do not load from a folder named $name"
  same "folder-$name-panel" plain-panel || fail "the theme or the thumbnails do not load from a folder named $name"
  read -r r g b < <(rgb "folder-$name" 200 190)
  [ "$r" -gt 10 ] && [ "$r" -lt 90 ] || fail "no frame pattern from a folder named $name ($r $g $b)"
  stop_app
done

echo "== GetUpdate.exe"
for request in -ABOUT -R -P -X; do
  t0=$(date +%s%N)
  QUILLMAR_GETUPDATE_CLOSE_MS=1500 "$wine_run" "$app/GetUpdate.exe" "$request" &
  gpid=$!
  title="Quillmar Recorder"
  [ "$request" = "-ABOUT" ] && title="About Quillmar Recorder"
  found=""
  for _ in $(seq 60); do
    found=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1)
    [ -n "$found" ] && break
    sleep 0.05
  done
  [ -n "$found" ] || fail "GetUpdate.exe $request showed no '$title' window"
  wait "$gpid"
  status=$?
  [ "$status" -eq 0 ] || fail "GetUpdate.exe $request exited $status"
  [ $((($(date +%s%N) - t0) / 1000000)) -lt 15000 ] || fail "GetUpdate.exe $request did not end"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; screenshots and files kept in $work"
  exit 1
fi
echo "app_window: all checks passed; screenshots: $work/artefact-idle.png $work/artefact-recording.png"
