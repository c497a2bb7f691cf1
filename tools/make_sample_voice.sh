#!/usr/bin/env bash
# Regenerates assets/samples/sample_voice.wav, the voice the demo renders through every
# effect: a few seconds of synthetic speech at 44100 Hz, mono, 16-bit.
# Needs espeak-ng and sox (Debian packages of the same names).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tmp="$(mktemp --suffix=.wav)"
trap 'rm -f "$tmp"' EXIT
espeak-ng -v en -s 150 -p 40 -w "$tmp" \
  "Hello, this is Quillmar Recorder. Pick a voice, press record, and speak."
sox "$tmp" -r 44100 -c 1 -b 16 "$here/assets/samples/sample_voice.wav" norm -3
