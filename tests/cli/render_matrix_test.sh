#!/usr/bin/env bash
# Every effect renders every input type the tool reads (WAV of each width, FLAC, OGG, MP3) at
# 1, 2 and 6 channels and 8 to 192 kHz into a WAV as long as the input, at the input's width.
set -u
tool="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
failures=0
gen() { sox -n -r "$1" -c "$2" "${@:4}" "$work/in/$3" synth 0.15 sine 180 sine 400 vol 0.4 || exit 1; }
for rate in 8000 44100 192000; do
  for ch in 1 2 6; do
    for bits in 8 16 24 32; do gen "$rate" "$ch" "w${bits}_${rate}_$ch.wav" -b "$bits"; done
    gen "$rate" "$ch" "wf_${rate}_$ch.wav" -e floating-point -b 32
    gen "$rate" "$ch" "f24_${rate}_$ch.flac" -b 24
    gen "$rate" "$ch" "o_${rate}_$ch.ogg"
  done
done
# MP3 carries 8..48 kHz and at most two channels; our own writer makes them.
for rate in 8000 44100; do
  for ch in 1 2; do
    "$tool" render --effect Robot "$work/in/w16_${rate}_$ch.wav" "$work/in/m_${rate}_$ch.mp3" || exit 1
  done
done
# What each output must be, "LENGTH BITS", in input order: sox's length of the input (sox
# does not read MP3: Robot's output of it) and the input's width (compressed: 16).
expected() {
  local lens=() ins=("$work"/in/*) i=0
  mapfile -t lens < <(soxi -s "${ins[@]/#$work\/in\/m_*/}" 2>/dev/null)
  for in in "${ins[@]}"; do
    case "$(basename "$in")" in
      m_*) printf '%s ' "$(soxi -s "$work/out/Robot/$(basename "${in%.*}").wav" 2>/dev/null)" ;;
      *) printf '%s ' "${lens[i]}"; i=$((i + 1)) ;;
    esac
    case "$(basename "$in")" in w8*) echo 8 ;; w24* | f24*) echo 24 ;; w32* | wf*) echo 32 ;; *) echo 16 ;; esac
  done
}
# Robot first: the MP3 lengths come from its outputs.
mapfile -t effects < <(echo Robot; "$tool" list | sed -nE '2,$ s/^[^ ]+ +(.*[^ ]) +\{.*/\1/p' | grep -vx Robot)
mkdir "$work/out"
for effect in "${effects[@]}"; do
  if ! "$tool" render --effect "$effect" --out-dir "$work/out/$effect" --format wav -j 2 \
      "$work"/in/* >/dev/null 2>"$work/err"; then
    echo "FAIL: $effect: $(head -n 3 "$work/err")"; failures=$((failures + 1)); continue
  fi
  outs=()
  for in in "$work"/in/*; do outs+=("$work/out/$effect/$(basename "${in%.*}").wav"); done
  got="$(paste -d ' ' <(soxi -s "${outs[@]}" 2>/dev/null) <(soxi -b "${outs[@]}" 2>/dev/null))"
  diff <(expected) <(echo "$got") >/dev/null || {
    echo "FAIL: $effect: $(diff <(expected) <(echo "$got") | head -n 4 | tr '\n' ' ')"
    failures=$((failures + 1))
  }
done
echo "$failures failed"
[ "$failures" -eq 0 ]
