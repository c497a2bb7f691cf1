#!/usr/bin/env bash
# Runs every fuzz target built in DIR for SECONDS seconds each, from its seed corpus when one
# exists in tests/fuzz/corpus/<target>. Any crash, leak or sanitizer report fails the run.
set -euo pipefail
dir="$(cd "$1" && pwd)"
seconds="${2:-20}"
root="$(cd "$(dirname "$0")/.." && pwd)"
found=0
for target in "$dir"/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  found=1
  name="$(basename "$target")"
  work="$(mktemp -d)"
  seeds=()
  [ -d "$root/tests/fuzz/corpus/$name" ] && seeds=("$root/tests/fuzz/corpus/$name")
  echo "fuzzing $name for ${seconds}s"
  (cd "$work" && "$target" -max_total_time="$seconds" -print_final_stats=0 "$work" "${seeds[@]}" \
      >"$work/log" 2>&1) || { tail -n 40 "$work/log"; rm -rf "$work"; exit 1; }
  rm -rf "$work"
done
[ "$found" -eq 1 ] || { echo "no fuzz targets in $dir"; exit 1; }
