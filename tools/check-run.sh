#!/usr/bin/env bash
# Runs the README's first command, tools/run.sh, as a newcomer on a machine with no display
# does (a new Wine prefix, no DISPLAY), and checks what it promises: exit 0, the path of a
# recording made through the window that decodes to at least a second of audio, and the
# sample voice rendered through all eight built-in effects.
#   tools/check-run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check-run: $*" >&2
  exit 1
}
# Seconds of audio in an MP3, decoded by mpg123 (not by our own reader).
decoded_seconds() {
  mpg123 -q -w "$work/decoded.wav" "$1" 2>/dev/null || { echo 0; return; }
  sox --i -D "$work/decoded.wav"
}

# The tests made the build's Wine prefix; a newcomer has none.
rm -rf build/windows/wineprefix
rc=0
env -u DISPLAY -u WAYLAND_DISPLAY bash tools/run.sh "$work/demo" >"$work/log" 2>&1 || rc=$?
cat "$work/log"
[ "$rc" -eq 0 ] || fail "tools/run.sh exited $rc"

recording=$(sed -n 's/^recording: //p' "$work/log" | tail -1)
[ -n "$recording" ] && [ -f "$recording" ] || fail "tools/run.sh printed no recording"
seconds=$(decoded_seconds "$recording")
awk -v s="$seconds" 'BEGIN { exit !(s >= 1.0) }' ||
  fail "the recording '$recording' decodes to $seconds s"

for effect in Male2Female FemaletoMale Baby Elder Robot Monster Ghost Strange_Voice; do
  file="$work/demo/$effect.mp3"
  [ -f "$file" ] || fail "the demo did not render $effect"
  seconds=$(decoded_seconds "$file")
  awk -v s="$seconds" 'BEGIN { exit !(s >= 1.0) }' || fail "$file decodes to $seconds s"
done
echo "check-run: the run command works: a recording of $(decoded_seconds "$recording") s and 8 demo files"
