#!/usr/bin/env bash
# A packager's install: the tool lands in PREFIX/bin, its data in PREFIX/share/quillmar, and
# the installed tool finds the sample voice from where it stands, not from the build tree.
set -eu
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/usr" >/dev/null
test -x "$work/usr/bin/quillmar" && test -s "$work/usr/share/quillmar/samples/sample_voice.wav"
mv "$work/usr" "$work/moved"
out="$("$work/moved/bin/quillmar" demo --out "$work/demo")"
grep -q "^Rendering $work/moved/share/quillmar/samples/sample_voice.wav" <<<"$out"
test "$(ls "$work/demo"/*.mp3 | wc -l)" -eq 8
