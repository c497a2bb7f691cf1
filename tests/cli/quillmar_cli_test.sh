#!/usr/bin/env bash
# The quillmar tool as a user meets it: each failure prints one line on stderr, exits non-zero
# and leaves no output file; a good render writes exactly one file.
set -u
tool="$1"
sample="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

expect_failure() {
  local what="$1" needle="$2"
  shift 2
  local err
  err="$("$tool" "$@" 2>&1 >/dev/null)"
  local rc=$?
  if [ "$rc" -eq 0 ]; then
    echo "FAIL: $what: exit code 0"; failures=$((failures + 1)); return
  fi
  if [ "$(printf '%s\n' "$err" | grep -c .)" -lt 1 ] || ! grep -q -- "$needle" <<<"$err"; then
    echo "FAIL: $what: message '$err' lacks '$needle'"; failures=$((failures + 1))
  fi
  if [ -n "$(ls -A "$work")" ]; then
    echo "FAIL: $what: left files behind: $(ls -A "$work")"; failures=$((failures + 1))
    rm -rf "${work:?}"/*
  fi
}

expect_failure "unknown command" "unknown command" frobnicate
expect_failure "missing input" "cannot read" render --effect Baby "$work/absent.wav" "$work/out.wav"
expect_failure "unknown effect" "unknown effect" render --effect Kazoo "$sample" "$work/out.wav"
expect_failure "unknown parameter" "no parameter" render --effect Baby --param Speed=3 "$sample" "$work/out.wav"
expect_failure "value out of range" "must lie in 10..30" render --effect Baby --param PitchShift=31 "$sample" "$work/out.wav"
expect_failure "value not a number" "whole number" render --effect Baby --param PitchShift=1x "$sample" "$work/out.wav"
expect_failure "bad output type" ".wav, .flac or .mp3" render --effect Robot "$sample" "$work/out.aiff"
expect_failure "pitch floor above ceiling" "floor" pitch --floor 500 --ceiling 400 "$sample"
expect_failure "pitch step not a number" "step" pitch --step nan "$sample"
expect_failure "missing files" "input and an output" render --effect Robot "$sample"
expect_failure "retune duration out of range" "0.1..2.5" retune --duration 3 "$sample" "$work/out.wav"
expect_failure "retune pitch out of range" "0.01..100" retune --pitch 0 "$sample" "$work/out.wav"
expect_failure "retune without factors" "--pitch FACTOR" retune "$sample" "$work/out.wav"

if ! "$tool" pitch "$sample" | head -n 1 | grep -q '^time,frequency,strength$'; then
  echo "FAIL: pitch prints no CSV header"; failures=$((failures + 1))
fi
if ! "$tool" list | grep -q 'Strange Voice'; then
  echo "FAIL: list does not show Strange Voice"; failures=$((failures + 1))
fi

# Twice the duration gives twice the pitch-analysis frames, whatever the pitch factor.
if "$tool" retune --pitch 1.5 --duration 2 "$sample" "$work/long.wav"; then
  rows_in=$("$tool" pitch "$sample" | wc -l)
  rows_out=$("$tool" pitch "$work/long.wav" | wc -l)
  if [ $((rows_out * 10)) -lt $((rows_in * 19)) ] || [ $((rows_out * 10)) -gt $((rows_in * 21)) ]; then
    echo "FAIL: retune --duration 2 gave $rows_out frames for $rows_in"; failures=$((failures + 1))
  fi
else
  echo "FAIL: retune of the sample failed"; failures=$((failures + 1))
fi
if ! "$tool" render --effect Male2Female "$sample" "$work/m2f.wav" || [ ! -s "$work/m2f.wav" ]; then
  echo "FAIL: render --effect Male2Female wrote no file"; failures=$((failures + 1))
fi

total=18
echo "$((total - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
