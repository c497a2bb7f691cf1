#!/usr/bin/env bash
# Figures of the packaged recorder under Wine on an X display (DISPLAY): the time from the
# process start to its painted window, the window process's CPU share while recording with
# Baby beside record.exe making the same recording in the same run, and its GDI objects,
# user objects, handles and resident memory before and after 20 recordings.
#   tools/measure-window.sh BUILD_DIR PROGRAM_DIR WORK_DIR
set -uo pipefail
build=$(realpath "$1")
program=$(realpath "$2")
work=$(realpath -m "$3")
wine_run=$build/wine-run.sh
mkdir -p "$work"
sox -q -n -r 44100 -c 1 -b 16 "$work/tone.wav" synth 30 sine 140 vol 0.5
export QUILLMAR_VMIC_WAV="Z:$work/tone.wav" QUILLMAR_SHELL_LOG="Z:$work/shell.log"
: >"$work/shell.log"
hz=$(getconf CLK_TCK)

t0=$(date +%s%N)
"$wine_run" "$program/QuillmarRecorder.exe" &
win=""
until [ -n "$win" ]; do
  win=$(xdotool search --onlyvisible --name '^Corvessa$' 2>/dev/null | head -1)
  sleep 0.02
done
echo "start to painted window: $((($(date +%s%N) - t0) / 1000000)) ms"
sleep 1.5
pid=$(pgrep -n -f 'QuillmarRecorder.exe')
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
resources() {
  echo "$("$wine_run" "$build/bin/app_post.exe" --resources | tr -d '\r')," \
    "resident $(awk '/VmRSS/ { print $2, $3 }' "/proc/$pid/status")"
}
opens() { grep -c '^open ' "$work/shell.log"; }

xdotool mousemove --window "$win" 232 105 click --repeat 2 --delay 80 1  # Baby
click 233 169
sleep 1
before=$(ticks "$pid")
sleep 10
after=$(ticks "$pid")
click 233 169
echo "window, recording with Baby: $(echo "scale=2; 100 * ($after - $before) / $hz / 10" | bc) % of one core"
sleep 3
report=$("$wine_run" "$build/bin/record.exe" --device 0 --effect 1 --seconds 10 --folder "Z:$work" \
  --report 2>&1 >/dev/null | tr -d '\r' | grep '^record:')
echo "record.exe, the same 10 s with Baby: $report"

echo "before 20 recordings: $(resources)"
for i in $(seq 20); do
  n=$(opens)
  click 233 169
  sleep 1.2
  click 233 169
  until [ "$(opens)" -gt "$n" ]; do sleep 0.1; done
done
echo "after 20 recordings: $(resources)"
click 438 17
wait
