#!/usr/bin/env bash
# Makes the Windows package: a zip holding one folder with QuillmarRecorder.exe, Pravik.dll,
# GetUpdate.exe, UI\, Effects\ and lang.ini, laid out as the program looks for them, and
# nothing else from the build folder. Prints the zip's path.
#   tools/package-windows.sh [OUT_DIR]      (default build/windows/package)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/windows/package}")
# The version comes from the project's one place, as major.minor.
version=$(sed -n 's/^project(QuillmarRecorder VERSION \([0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)
name=QuillmarRecorder-$version-win64
if [ ! -f build/windows/build.ninja ]; then
  cmake --preset windows >/dev/null
fi
cmake --build --preset windows -j2 --target QuillmarRecorder >/dev/null
rm -rf "$out/$name" "$out/$name.zip"
mkdir -p "$out"
cmake --install build/windows --prefix "$out/$name" >/dev/null
(cd "$out" && zip -qr "$name.zip" "$name")
echo "$out/$name.zip"
