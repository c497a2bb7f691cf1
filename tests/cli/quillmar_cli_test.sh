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

if ! "$tool" pitch "$sample" | head -n 1 | grep -q '^time,frequency,strength$'; then
  echo "FAIL: pitch prints no CSV header"; failures=$((failures + 1))
fi
if ! "$tool" list | grep -q 'Strange Voice'; then
  echo "FAIL: list does not show Strange Voice"; failures=$((failures + 1))
fi

total=13
echo "$((total - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
