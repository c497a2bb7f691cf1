#!/usr/bin/env bash
# The quillmar tool as a user meets it: each failure prints one line on stderr, exits non-zero
# and leaves no output file; a good render writes exactly one file.
set -u
tool="$1"
sample="$2"
version="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
# No sound server: the live commands must fail at once.
export PULSE_SERVER="unix:$work/no-server" XDG_RUNTIME_DIR="$work"
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect_failure WHAT NEEDLE CODE ARGS...: exit code CODE and one line on stderr with NEEDLE.
expect_failure() {
  local what="$1" needle="$2" code="$3"
  shift 3
  local err
  err="$("$tool" "$@" 2>&1 >/dev/null)"
  local rc=$?
  if [ "$rc" -ne "$code" ]; then
    echo "FAIL: $what: exit code $rc, not $code"; failures=$((failures + 1)); return
  fi
  if [ "$(printf '%s\n' "$err" | grep -c .)" -lt 1 ] || ! grep -q -- "$needle" <<<"$err"; then
    echo "FAIL: $what: message '$err' lacks '$needle'"; failures=$((failures + 1))
  fi
  if [ -n "$(ls -A "$work")" ]; then
    echo "FAIL: $what: left files behind: $(ls -A "$work")"; failures=$((failures + 1))
    rm -rf "${work:?}"/*
  fi
}

expect_failure "unknown command" "unknown command" 2 frobnicate
expect_failure "missing input" "cannot read" 1 render --effect Baby "$work/absent.wav" "$work/out.wav"
expect_failure "unknown effect" "unknown effect" 2 render --effect Kazoo "$sample" "$work/out.wav"
expect_failure "unknown parameter" "no parameter" 2 render --effect Baby --param Speed=3 "$sample" "$work/out.wav"
expect_failure "value out of range" "must lie in 10..30" 2 render --effect Baby --param PitchShift=31 "$sample" "$work/out.wav"
expect_failure "value not a number" "whole number" 2 render --effect Baby --param PitchShift=1x "$sample" "$work/out.wav"
expect_failure "bad output type" ".wav, .flac or .mp3" 1 render --effect Robot "$sample" "$work/out.aiff"
expect_failure "pitch floor above ceiling" "floor" 2 pitch --floor 500 --ceiling 400 "$sample"
expect_failure "pitch step not a number" "step" 2 pitch --step nan "$sample"
expect_failure "missing files" "expects IN OUT" 2 render --effect Robot "$sample"
expect_failure "retune duration out of range" "0.1..2.5" 2 retune --duration 3 "$sample" "$work/out.wav"
expect_failure "retune pitch out of range" "0.01..100" 2 retune --pitch 0 "$sample" "$work/out.wav"
expect_failure "retune without factors" "--pitch FACTOR" 2 retune "$sample" "$work/out.wav"

expect_failure "record without a server" "no sound server" 1 record --seconds 1 "$work/rec.mp3"
expect_failure "devices without a server" "no sound server" 1 devices
# "none", the default the help names, is an effect choice everywhere: the live commands get as
# far as the server, and a render leaves the voice as it was.
expect_failure "monitor --effect none without a server" "no sound server" 1 monitor --effect none
expect_failure "record --effect none without a server" "no sound server" 1 record --effect None "$work/rec.wav"
expect_failure "--param with no effect" "other than none" 2 render --effect none --param PitchShift=12 "$sample" "$work/out.wav"
"$tool" render --effect none "$sample" "$work/plain.wav" >/dev/null &&
  cmp -s <(sox "$sample" -t raw -) <(sox "$work/plain.wav" -t raw -) ||
  fail "render --effect none does not give the input back"
rm -f "$work/plain.wav"
expect_failure "record into a missing folder" "cannot write into" 1 record "$work/none/rec.mp3"
# A switch to a voice that does not exist names the voices there are, before looking for a
# running command; with nothing running, switch says so instead of reporting success.
expect_failure "switch to an unknown voice" "the voices are.*Baby" 2 switch Kazoo
XDG_RUNTIME_DIR="$work" expect_failure "switch with nothing running" "no live, record or monitor" 1 switch Baby

[ "$("$tool" --version)" = "quillmar $version" ] || fail "--version does not say $version"

# Every option a command's --help lists is one its parser takes, with the lowest value of the
# range shown; a value above the range is refused with the option's name.
for cmd in $("$tool" --help | sed -n 's/^  quillmar \([a-z]*\).*/\1/p' | sort -u); do
  [ "$cmd" = help ] && continue
  "$tool" help "$cmd" | grep -q 'exit codes: 0' || fail "$cmd --help lacks the exit codes"
  while read -r opt value range; do
    args=("$opt") lo="${range%%..*}" hi="${range##*..}"
    if [ -n "$range" ]; then args+=("$lo"); elif [ -n "$value" ]; then args+=(x); fi
    err="$("$tool" "$cmd" "${args[@]}" --zz-unknown 2>&1 >/dev/null)"
    grep -q "unknown option '--zz-unknown'" <<<"$err" || fail "$cmd $opt: parser says '$err'"
    if [ -n "$range" ]; then
      err="$("$tool" "$cmd" "$opt" "${hi}1" 2>&1 >/dev/null)"
      [ $? -eq 2 ] && grep -q -- "$opt.*$range" <<<"$err" || fail "$cmd $opt ${hi}1: '$err'"
    fi
  done < <("$tool" "$cmd" --help | sed -n '/^options:/,/^$/p' | grep -v -- '--help' |
           sed -nE 's/^  (--?[a-z-]+)( [^ ]+)?.*[ (]([-0-9.e]+\.\.[-0-9.e]+)[;)].*/\1\2 \3/p;
                    t; s/^  (--?[a-z-]+)( [^ ]+)?.*/\1\2/p')
done

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


echo "$failures failed"
[ "$failures" -eq 0 ]
