#!/usr/bin/env bash
# One recording through the recorder's window, made as a user makes it, on the X display in
# DISPLAY (run.sh gives it a virtual one): choose Baby, press Record, speak (the virtual
# microphone plays the sample voice), press Record again. Prints the recording's path and
# the screenshots of the idle and the recording window.
#   window-demo.sh WINE_RUN PROGRAM_DIR OUT_DIR
set -euo pipefail
wine_run=$1
program=$2
out=$(realpath -m "$3")
mkdir -p "$out"
export QUILLMAR_SHELL_LOG="Z:$out/shell.log"  # no file manager on a virtual display
rm -f "$out/shell.log"
"$wine_run" "$program/QuillmarRecorder.exe" &
pid=$!
win=""
# A first start on a fresh prefix sets up Wine's own parts first: give it time.
for _ in $(seq 1200); do
  win=$(xdotool search --onlyvisible --name '^Corvessa$' 2>/dev/null | head -1) && [ -n "$win" ] && break
  sleep 0.05
done
[ -n "$win" ] || { echo "window-demo: the recorder's window did not appear" >&2; exit 1; }
sleep 1.5
eval "$(xdotool getwindowgeometry --shell "$win")"
shot() { import -window root -crop "465x200+$X+$Y" +repage "$out/$1"; }
at() { xdotool mousemove --window "$win" "$1" "$2"; }
at 120 180
sleep 0.5
shot window-idle.png
at 232 105 && xdotool click --repeat 2 --delay 80 1  # Baby
at 233 169 && xdotool click 1                        # Record
at 120 180
sleep 3
shot window-recording.png
at 233 169 && xdotool click 1                        # Record again: stop
for _ in $(seq 100); do grep -qs '^open ' "$out/shell.log" && break; sleep 0.1; done
at 438 17 && xdotool click 1                         # Close
wait "$pid" || true
folder=$(sed -n 's/^open //p' "$out/shell.log" | tail -1 | tr -d '\r')
[ -n "$folder" ] || { echo "window-demo: the recording did not stop" >&2; exit 1; }
prefix_folder=$(WINEDEBUG=-all "$wine_run" winepath -u "$folder" 2>/dev/null | tr -d '\r')
recording=$(realpath "$(ls -t "${prefix_folder%/}"/Aud*.mp3 | head -1)")
echo "recording: $recording"
echo "screenshots: $out/window-idle.png $out/window-recording.png"
