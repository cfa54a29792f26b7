#!/usr/bin/env bash
# Installs what is missing and builds Crypto++ and zlib for both mingw architectures,
# then configures and builds the given CMake presets.
# Usage: prepare.sh PRESET...
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
bash scripts/install-deps.sh
bash scripts/build-cryptopp-mingw.sh i686
bash scripts/build-cryptopp-mingw.sh x86_64
bash scripts/build-zlib-mingw.sh i686
bash scripts/build-zlib-mingw.sh x86_64
for preset in "$@"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
done
