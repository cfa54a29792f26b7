#!/usr/bin/env bash
# Builds zlib for mingw-w64 from Debian's source package, once per
# architecture, into a cache folder that later builds reuse. Debian's mingw
# zlib is built without a section per function, so a program links every
# function of each object it uses; built here with one, the stub's link keeps
# only what it calls. The gzip wrapper is left out (NO_GZIP): the stub reads
# zlib streams only, and without it inflate no longer needs crc32.
# Usage: build-zlib-mingw.sh [i686|x86_64]   (default i686, the product's)
# Result: $CACHE/include/{zlib.h,zconf.h} and $CACHE/lib/libz.a
set -euo pipefail
ARCH=${1:-i686}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# The folder name carries the version of how the library is built; bump it
# when the flags change (cmake/win32-deps.cmake follows).
FLAGS_VERSION=1
source "$ROOT/scripts/debian-source.sh"
mingw_cache zlib "${QX_ZLIB_CACHE:-}" lib/libz.a include/zlib.h
tarball=$(debian_source zlib zlib)
rm -rf build && mkdir build
tar -xf "$tarball" -C build --strip-components=1
cd build
# -O2 as Debian builds it: inflate is on the stub's hot path.
objects=()
for name in adler32 crc32 deflate infback inffast inflate inftrees trees zutil compress uncompr; do
  "$TRIPLE-gcc" -O2 -DNO_GZIP -ffunction-sections -fdata-sections -c "$name.c" -o "$name.o"
  objects+=("$name.o")
done
mkdir -p "$CACHE/lib" "$CACHE/include"
rm -f "$CACHE/lib/libz.a"
"$TRIPLE-ar" rcs "$CACHE/lib/libz.a" "${objects[@]}"
cp zlib.h zconf.h "$CACHE/include/"
rm -rf "$CACHE/src/build"
