#!/usr/bin/env bash
# Cross-builds libmp3lame (encoder only, static) from Debian's lame source package into
# <root>/install. Does nothing when the library is already there, so a build folder fetches
# and compiles it once.
set -euo pipefail

root=$1
host=$2
cc=$3
lib="$root/install/lib/libmp3lame.a"
if [ -f "$lib" ]; then
  exit 0
fi

mkdir -p "$root/src"
cd "$root/src"
if ! compgen -G "lame-*/configure" >/dev/null; then
  # Needs a deb-src entry (tools/setup.sh adds one) and dpkg-dev to unpack and patch.
  apt-get source lame
fi
srcdir=$(compgen -G "$root/src/lame-*/" | head -n 1)
cd "$srcdir"
./configure --host="$host" --disable-shared --enable-static --disable-frontend \
  --prefix="$root/install" CC="$cc" >"$root/configure.log"
# Every core: the cross-build is the longest single step of a clean Windows build.
make -j"$(nproc)" >"$root/make.log"
make install >"$root/install.log"
test -f "$lib"
