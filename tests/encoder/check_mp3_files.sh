#!/usr/bin/env bash
# Decodes the MP3 files that test_mp3_graph wrote with an independent decoder (mpg123) and
# measures them with sox. For every file listed in cases.txt:
#   - the file starts with an ID3v2 tag, then the Info tag frame, whose byte count is the
#     file size less the ID3 tag, and its frame count is the number of frames mpg123 decodes
#     (decoded samples = frames x samples per frame, gapless trimming off);
#   - the decoded stream has the input's rate and channel count;
#   - duration: decoded with the tag's delay and padding trimmed (as players do), the stream
#     holds exactly the input's samples. Fewer would mean the end never reached the file;
#   - each channel's tone keeps its frequency within 2 % (sox's zero-crossing estimate over
#     0.6 s), and the tail tone that the input switches to for its last 0.12 s is in the file
#     at its frequency within 3 % (a 0.08 s window ending 0.01 s before the input's end).
# Usage: check_mp3_files.sh <folder> [minimum number of files]
set -euo pipefail

folder=$1
minimum=${2:-8}
cases="$folder/cases.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL $name: $*"
  failures=$((failures + 1))
}

# Big-endian 32-bit value at byte offset $2 of file $1.
be32() {
  local b
  read -r -a b < <(od -An -tu1 -j "$2" -N 4 "$1")
  echo $(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))
}

# sox's rough frequency of channel $2 of $1 over samples [$3, $3 + $4).
rough_hz() {
  sox "$1" -n remix "$2" trim "${3}s" "${4}s" stat 2>&1 | awk '/Rough/ {print $3}'
}

# |measured - expected| <= expected x percent / 100
within() {
  awk -v m="$1" -v e="$2" -v p="$3" 'BEGIN { d = m - e; if (d < 0) d = -d; exit !(m != "" && d <= e * p / 100) }'
}

[ -f "$cases" ] || { echo "FAIL: no $cases"; exit 1; }
count=0
while read -r name rate channels frames tail hz1 tail1 hz2 tail2; do
  count=$((count + 1))
  failures_before=$failures
  file="$folder/$name"
  [ -s "$file" ] || { fail "missing or empty"; continue; }

  [ "$(head -c 3 "$file")" = ID3 ] || { fail "no ID3 tag at the start"; continue; }
  read -r -a id3 < <(od -An -tu1 -j 6 -N 4 "$file")
  id3_bytes=$((10 + ((id3[0] << 21) | (id3[1] << 14) | (id3[2] << 7) | id3[3])))
  # The tag follows the header and the side information: 13, 21 or 36 bytes in.
  tag=$(tail -c +$((id3_bytes + 1)) "$file" | head -c 64 | grep -obUa Info | head -n 1 | cut -d: -f1 || true)
  case "$tag" in
    13 | 21 | 36) tag=$((id3_bytes + tag)) ;;
    *) fail "no Info tag after the first header (found at '${tag}')"; continue ;;
  esac
  flags=$(be32 "$file" $((tag + 4)))
  if (((flags & 3) != 3)); then
    fail "tag carries no frame and byte counts (flags $flags)"
    continue
  fi
  tag_frames=$(be32 "$file" $((tag + 8)))
  tag_bytes=$(be32 "$file" $((tag + 12)))
  size=$(stat -c %s "$file")
  [ "$tag_bytes" -eq $((size - id3_bytes)) ] ||
    fail "tag says $tag_bytes bytes, file has $size with $id3_bytes of ID3 tag"

  wav="$work/$name.wav"
  if ! mpg123 -q --no-gapless -w "$wav" "$file"; then
    fail "mpg123 cannot decode it"
    continue
  fi
  [ "$(soxi -r "$wav")" -eq "$rate" ] || fail "decoded at $(soxi -r "$wav") Hz, not $rate"
  [ "$(soxi -c "$wav")" -eq "$channels" ] || fail "decoded $(soxi -c "$wav") channels, not $channels"
  decoded=$(soxi -s "$wav")
  if [ "$rate" -ge 32000 ]; then spf=1152; else spf=576; fi
  [ "$decoded" -eq $((tag_frames * spf)) ] ||
    fail "tag counts $tag_frames frames, mpg123 decoded $((decoded / spf)) ($decoded samples)"

  mpg123 -q -w "$wav" "$file" || { fail "mpg123 cannot decode it gapless"; continue; }
  gapless=$(soxi -s "$wav")
  [ "$gapless" -eq "$frames" ] || fail "decoded gapless to $gapless samples, not $frames"
  delay=0

  body_from=$((rate * 3 / 10))
  body_len=$((rate * 6 / 10))
  tail_from=$((frames + delay - rate * 9 / 100))
  tail_len=$((rate * 8 / 100))
  for ch in $(seq 1 "$channels"); do
    if [ "$ch" -eq 1 ]; then want=$hz1 want_tail=$tail1; else want=$hz2 want_tail=$tail2; fi
    got=$(rough_hz "$wav" "$ch" "$body_from" "$body_len")
    within "$got" "$want" 2 || fail "channel $ch tone at ${got} Hz, not $want"
    got=$(rough_hz "$wav" "$ch" "$tail_from" "$tail_len")
    within "$got" "$want_tail" 3 || fail "channel $ch end of stream at ${got} Hz, not $want_tail"
  done
  [ "$failures" -eq "$failures_before" ] || continue
  echo "ok   $name: $tag_frames frames, $size bytes, $decoded samples at $rate Hz x $channels"
done <"$cases"

if [ "$count" -lt "$minimum" ]; then
  echo "FAIL: $count files listed, expected at least $minimum"
  exit 1
fi
[ "$failures" -eq 0 ]
