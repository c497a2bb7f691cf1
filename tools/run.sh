#!/usr/bin/env bash
# Runs the program. Installs what is missing, builds and packages the Windows recorder, and
# opens its window under Wine with the virtual microphone as the capture device, playing the
# bundled sample voice, so that pressing Record records a voice. With no X display it makes
# one recording through the same window on a virtual display and prints where the recording
# and the screenshots are. Then, as a further step, it renders the sample voice through every
# built-in effect into MP3 files with the command-line tool.
#   tools/run.sh [RENDER_OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

if [ ! -f build/windows/build.ninja ]; then
  cmake --preset windows >/dev/null
fi
cmake --build --preset windows -j2 --target QuillmarRecorder quillmar_vmic >/dev/null
zip=$(bash tools/package-windows.sh)
program=build/windows/run/$(basename "$zip" .zip)
rm -rf build/windows/run
unzip -q "$zip" -d build/windows/run
wine_run=$PWD/build/windows/wine-run.sh
bash build/windows/wine-prefix.sh >/dev/null
"$wine_run" regsvr32 /s "Z:$PWD/build/windows/bin/quillmar_vmic.dll"
# The prefix set-up and regsvr32 ran without the virtual display: a Wine server still running
# from them would serve the window on no display, so it must end before the window starts.
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -w
export QUILLMAR_VMIC_WAV="Z:$PWD/assets/samples/sample_voice.wav"

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "Quillmar Recorder is open: choose a voice, press Record, press it again to stop."
  echo "Recordings go to Documents\\Quillmar\\Audio\\ in the Wine prefix build/windows/wineprefix."
  "$wine_run" "$program/QuillmarRecorder.exe"
else
  xvfb-run -a -s "-screen 0 1024x768x24" \
    bash tools/window-demo.sh "$wine_run" "$program" build/windows/run/demo
fi

cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target quillmar
./build/native/bin/quillmar demo --out "${1:-build/demo}"
