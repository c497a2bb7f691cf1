#!/usr/bin/env bash
# Writes a minute of speech at 44100 Hz, mono, 16-bit: the sample voice looped and cut to
# 60 s. It is the input for timing `quillmar pitch` as a whole process.
# Usage: tools/make_speech_minute.sh OUTPUT.wav   (needs sox)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:?usage: $0 OUTPUT.wav}"
sox "$here/assets/samples/sample_voice.wav" -r 44100 -c 1 -b 16 "$out" repeat 11 trim 0 60
