#!/usr/bin/env bash
# Recordings end to end under Wine with the virtual microphone: record.exe as a user runs it,
# the recorder in-process for the cases record.exe cannot reach, an independent MP3 decoder
# on the Linux side (mpg123, which honours the Info tag's encoder delay and padding as players
# do), and the signal checks of test_recording_files.exe on what it decoded.
#   recording_test.sh WINE_RUN BIN_DIR WORK_DIR
set -uo pipefail
wine_run=$1
bin=$2
work=$3

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Windows programs see the Unix root as drive Z:.
win() { echo "Z:$1"; }
unix_path() { local p=${1%$'\r'}; p=${p#Z:}; echo "${p//\\//}"; }

rm -rf "$work"
mkdir -p "$work"
"$wine_run" "$bin/test_recording_files.exe" --make-inputs "$(win "$work")" 2>/dev/null ||
  { echo "FAIL: cannot make the microphone's files"; exit 1; }

device=$("$wine_run" "$bin/record.exe" --list-devices 2>/dev/null |
  tr -d '\r' | awk -F'\t' '$2 == "Quillmar Virtual Microphone" { print $1 }')
[ -n "$device" ] || { echo "FAIL: the virtual microphone is not listed"; exit 1; }
count=$("$wine_run" "$bin/record.exe" --list-devices 2>/dev/null | grep -c .)

# record NAME WAV EFFECT SECONDS: one recording into $work/NAME/, decoded to $work/NAME.wav,
# the recorded time in $work/NAME.seconds.
record() {
  local name=$1 wav=$2 effect=$3 seconds=$4
  mkdir -p "$work/$name"
  local before out err status
  before=$(date +%s)
  out=$(QUILLMAR_VMIC_WAV="$(win "$work/$wav")" QUILLMAR_VMIC_BUFFER_MS=10 \
    "$wine_run" "$bin/record.exe" --device "$device" --effect "$effect" --seconds "$seconds" \
    --folder "$(win "$work/$name")" --report 2>"$work/$name.err")
  status=$?
  local after
  after=$(date +%s)
  if [ "$status" -ne 0 ]; then
    fail "$name: record.exe exited $status: $(grep '^record:' "$work/$name.err")"
    return
  fi
  local path file
  path=$(unix_path "$out")
  file=$(basename "$path")
  [ "$(dirname "$path")" = "$work/$name" ] || fail "$name: written outside its folder: $path"
  [ -s "$path" ] || { fail "$name: no recording at $path"; return; }
  # Named from the local start time, which lies between the launch and the end.
  local stamp
  stamp=$(echo "$file" | sed -n 's/^Aud\([0-9]\{4\}\)_\([0-9]\{2\}\)_\([0-9]\{2\}\)_\([0-9]\{2\}\)-\([0-9]\{2\}\)-\([0-9]\{2\}\)\.mp3$/\1-\2-\3 \4:\5:\6/p')
  if [ -z "$stamp" ]; then
    fail "$name: unexpected file name $file"
  else
    local at
    at=$(date -d "$stamp" +%s)
    { [ "$at" -ge "$before" ] && [ "$at" -le "$after" ]; } ||
      fail "$name: $file is not named from the start time"
  fi
  sed -n 's/^record: recorded \([0-9.]*\) s.*/\1/p' "$work/$name.err" >"$work/$name.seconds"
  decode "$name" "$path"
}

# decode NAME MP3: the file must decode as MPEG audio Layer III at the microphone's rate.
decode() {
  local name=$1 path=$2
  if ! mpg123 -q -w "$work/$name.wav" "$path" 2>"$work/$name.decode"; then
    fail "$name: mpg123 cannot decode it: $(head -1 "$work/$name.decode")"
    return
  fi
  # mpg123 names the stream as "MPEG 1.0 L III cbr128 44100 j-s".
  local stream
  stream=$(mpg123 -t -v "$path" 2>&1 | tr '\r' '\n' | grep -m1 '^MPEG ')
  echo "$stream" | grep -q ' L III ' || fail "$name: not MPEG audio Layer III: '$stream'"
  echo "$stream" | grep -q ' 44100 ' || fail "$name: not at the microphone's 44100 Hz: '$stream'"
  [ "$(soxi -r "$work/$name.wav" 2>/dev/null)" = "44100" ] || fail "$name: decoded at another rate"
}

# check_header NAME MP3 VOICE: the native `quillmar info` reads the tags back, and the length
# the header gives is the decoded length within one frame.
quillmar=${QUILLMAR_NATIVE_CLI:-$bin/../../native/bin/quillmar}
check_header() {
  local name=$1 path=$2 voice=$3
  if [ ! -x "$quillmar" ]; then
    echo "note: no native quillmar at $quillmar; $name's tags not read back"
    return
  fi
  local info
  info=$("$quillmar" info "$path") || { fail "$name: quillmar info refuses it"; return; }
  echo "$info" | grep -q '^  TSSE: Quillmar Recorder' || fail "$name: no encoder tag"
  echo "$info" | grep -q '^  TDRC: [0-9]\{4\}-[0-9]\{2\}-[0-9]\{2\}T[0-9:]\{8\}$' ||
    fail "$name: no recording time"
  echo "$info" | grep -qx "voice: $voice" || fail "$name: voice is not '$voice'"
  local claimed decoded
  claimed=$(echo "$info" | sed -n 's/^duration: [0-9.]* s (\([0-9]*\) samples.*/\1/p')
  decoded=$(soxi -s "$work/$name.wav" 2>/dev/null)
  { [ -n "$claimed" ] && [ -n "$decoded" ] && [ $((claimed - decoded)) -le 1152 ] &&
    [ $((decoded - claimed)) -le 1152 ]; } ||
    fail "$name: header says ${claimed:-?} samples, decoded ${decoded:-?}"
}

# gtest_run NAME: runs one of the test programs on the work folder and shows its report.
gtest_run() {
  local output status
  output=$(QUILLMAR_E2E_DIR="$(win "$work")" "$wine_run" "$bin/$1.exe" --gtest_brief=1 \
    2>/dev/null)
  status=$?
  echo "$output" | tr -d '\r' | grep -v '^Running main'
  [ "$status" -eq 0 ] || fail "$1 failed"
}

record baby tone.wav 1 3
record plain voice.wav 0 3
check_header baby "$(ls "$work"/baby/*.mp3)" "Baby; PitchShift=16"
check_header plain "$(ls "$work"/plain/*.mp3)" "none"

# Refusals: no file may be written, and the exit code says what went wrong.
mkdir -p "$work/refused"
"$wine_run" "$bin/record.exe" --device "$count" --effect 1 --seconds 1 \
  --folder "$(win "$work/refused")" >/dev/null 2>"$work/refused.err"
[ $? -eq 1 ] || fail "a device index past the end must exit 1"
[ "$(grep -c '^record:' "$work/refused.err")" -eq 1 ] || fail "a refusal must print one line"
"$wine_run" "$bin/record.exe" --device 0 --effect 1 --seconds -1 >/dev/null 2>&1
[ $? -eq 2 ] || fail "a wrong command line must exit 2"
[ -z "$(ls -A "$work/refused")" ] || fail "a refused recording left files behind"

# The recorder in-process: two starts in one second, and a second recording reusing the
# effect. It writes reuse.mp3 and reuse.seconds for the checks below.
gtest_run test_recorder_recordings
if [ -s "$work/reuse.mp3" ]; then
  decode reuse "$work/reuse.mp3"
  check_header reuse "$work/reuse.mp3" "Baby; PitchShift=16"
fi
# Closed during the recording: the header is complete all the same.
if [ -s "$work/closed.mp3" ]; then
  decode closed "$work/closed.mp3"
  check_header closed "$work/closed.mp3" "none"
else
  fail "the recording closed mid-way left no file"
fi
gtest_run test_recording_files

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; files kept in $work"
  exit 1
fi
echo "recordings: all checks passed"
