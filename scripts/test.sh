#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# host unit tests (plain and with AddressSanitizer/UBSan), then the Windows
# unit and program tests under Wine (the i686 product build where this
# machine can run 32-bit programs, and always the x86_64 build under 64-bit Wine),
# and a brief run of every fuzz target on its seeds.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
presets=(host host-asan win32 win64)
bash scripts/prepare.sh "${presets[@]}"

status=0
for preset in "${presets[@]}"; do
  echo "== tests: $preset"
  ctest --preset "$preset" || status=1
done

# The fuzz targets, a few seconds each on their seed corpora: they keep
# building, and no seed crashes them.
echo "== fuzz targets: brief run"
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j"$(nproc)" >/dev/null; then
  bash scripts/fuzz.sh --ci --seconds 4 --jobs "$(nproc)" || status=1
else
  echo "fuzz preset: build failed"
  status=1
fi
exit $status
