#!/usr/bin/env bash
# Runs every test of both builds from a fresh machine: installs what is missing, checks the
# layout of every C/C++ file with clang-format, then builds and tests the portable core
# natively, under AddressSanitizer + UndefinedBehaviorSanitizer, as libFuzzer targets (a short
# run each), and the Windows program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"

bash tools/setup.sh

echo "== format"
bash tools/check-format.sh

echo "== native"
cmake --preset native
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

echo "== asan"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== fuzz"
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
bash tools/run-fuzzers.sh build/fuzz 20

echo "== windows"
cmake --preset windows
cmake --build --preset windows -j "$jobs"
# UI tests need a display; Xvfb gives every run its own.
xvfb-run -a ctest --preset windows -j "$jobs"

echo "== run command"
# Last, the README's first command as a newcomer runs it: no display, a new Wine prefix.
bash tools/check-run.sh
