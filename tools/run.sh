#!/usr/bin/env bash
# The program's main job on its embedded default: installs what is missing, builds, and
# renders the bundled sample voice through every built-in effect into MP3 files.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target quillmar
./build/native/bin/quillmar demo --out "${1:-build/demo}"
