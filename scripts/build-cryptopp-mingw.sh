#!/usr/bin/env bash
# Builds Crypto++ for mingw-w64 (win32 threads) from Debian's source package,
# once per architecture, into a cache folder that later builds reuse.
# Usage: build-cryptopp-mingw.sh [i686|x86_64]   (default i686, the product's)
# Result: $CACHE/include/cryptopp/*.h and $CACHE/lib/libcryptopp.a
set -euo pipefail
ARCH=${1:-i686}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${QX_CRYPTOPP_CACHE:-$ROOT/.cache/cryptopp-mingw-$ARCH}
TRIPLE=$ARCH-w64-mingw32
if [[ -f "$CACHE/lib/libcryptopp.a" && -f "$CACHE/include/cryptopp/cryptlib.h" ]]; then
  exit 0
fi
mkdir -p "$CACHE/src"
cd "$CACHE/src"
if ! ls libcrypto++_*.orig.tar.* >/dev/null 2>&1; then
  apt-get source --download-only libcrypto++ >/dev/null
fi
tarball=$(ls libcrypto++_*.orig.tar.* | head -1)
rm -rf build && mkdir build
tar -xf "$tarball" -C build --strip-components=1 2>/dev/null || tar -xf "$tarball" -C build
srcdir=build
[[ -f "$srcdir/GNUmakefile-cross" ]] || srcdir=$(dirname "$(find build -name GNUmakefile-cross | head -1)")
make -C "$srcdir" -f GNUmakefile-cross -j"$(nproc)" static \
  CXX=$TRIPLE-g++-win32 AR=$TRIPLE-ar RANLIB=$TRIPLE-ranlib \
  CXXFLAGS="-O2 -DNDEBUG" >"$CACHE/build.log" 2>&1
mkdir -p "$CACHE/include/cryptopp" "$CACHE/lib"
cp "$srcdir"/*.h "$CACHE/include/cryptopp/"
cp "$srcdir/libcryptopp.a" "$CACHE/lib/"
rm -rf "$CACHE/src/build"
