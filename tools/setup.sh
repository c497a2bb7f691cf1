#!/usr/bin/env bash
# Installs every Debian package that the native and Windows builds and their tests need.
# Idempotent: packages already present are left alone, and the deb-src line is added once.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libmp3lame-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64
  xvfb xauth
  dpkg-dev
  mpg123 sox
  xdotool imagemagick zip
  libpulse-dev pulseaudio pulseaudio-utils
  pipewire pipewire-pulse wireplumber dbus-x11
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# The LAME sources are cross-built for MinGW, so the source archive must be reachable.
need_src=0
if ! grep -rqs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null &&
   ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ 2>/dev/null; then
  need_src=1
fi

if [ "$need_src" -eq 1 ]; then
  # Mirror the machine's own binary sources as source sources, so no host is hard-wired here.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/quillmar-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      $SUDO tee /etc/apt/sources.list.d/quillmar-src.list >/dev/null
  fi
fi

if [ "${#missing[@]}" -gt 0 ] || [ "$need_src" -eq 1 ]; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
fi
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
