#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# host unit tests (plain and with AddressSanitizer/UBSan), then the Windows
# unit and program tests under Wine in each configuration (the shipped i686
# stub on 32-bit Windows 10 and XP and under WoW64 on 64-bit Windows 10 and XP,
# where this machine runs 32-bit programs; the x86_64 build as a 64-bit
# process everywhere), and a brief run of every fuzz target on its seeds.
# Ends with the time and result of each configuration.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
presets=(host host-asan win32 win64)
start=$SECONDS
bash scripts/prepare.sh "${presets[@]}"
summary=("build and set-up: $((SECONDS - start)) s")

status=0
# Runs one ctest selection and adds a summary line: name, result, seconds.
run_ctest() {
  local name=$1; shift
  local t0=$SECONDS log rc=0
  log=$(mktemp)
  echo "== tests: $name"
  ctest "$@" 2>&1 | tee "$log" || rc=$?
  ((rc == 0)) || status=1
  local result skipped
  result=$(grep -Eo '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
  skipped=$(grep -c '(Skipped)$' "$log" || true)
  ((skipped)) && result+=", $skipped skipped"
  [[ -n "$result" ]] || result="no tests"
  ((rc == 0)) || result+=" (FAILED)"
  summary+=("$name: $result, $((SECONDS - t0)) s")
  rm -f "$log"
}

for preset in host host-asan; do
  run_ctest "$preset" --preset "$preset"
done
# The Windows presets: each Wine configuration on its own (its tests carry its
# name as a label), then the tests that need no Wine.
for preset in win32 win64; do
  for cfg in $(ctest --preset "$preset" --print-labels | sed -n 's/^  *//p' | grep -vx 'wine'); do
    run_ctest "$preset $cfg" --preset "$preset" -L "^$cfg\$"
  done
  run_ctest "$preset (no Wine)" --preset "$preset" -LE '^wine$'
done

# The fuzz targets, a few seconds each on their seed corpora: they keep
# building, and no seed crashes them.
echo "== fuzz targets: brief run"
t0=$SECONDS
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j"$(nproc)" >/dev/null; then
  if bash scripts/fuzz.sh --ci --seconds 4 --jobs "$(nproc)"; then
    summary+=("fuzz: passed, $((SECONDS - t0)) s")
  else
    summary+=("fuzz: FAILED, $((SECONDS - t0)) s"); status=1
  fi
else
  echo "fuzz preset: build failed"
  summary+=("fuzz: build FAILED"); status=1
fi

echo "== summary (total $((SECONDS - start)) s)"
printf '  %s\n' "${summary[@]}"
exit $status
