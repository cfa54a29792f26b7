#!/usr/bin/env bash
# Runs the fuzz targets of the "fuzz" preset (build it first:
#   cmake --preset fuzz && cmake --build --preset fuzz -j2)
# and prints per target: executions, coverage, crashes.
#
# Usage: fuzz.sh [--seconds N] [--jobs N] [--ci] [TARGET...]
#   --seconds N  fuzzing time per target (default 60)
#   --jobs N     targets run side by side (default 1), each at low priority
#   --ci         work in a temporary directory, so the run leaves nothing
#                behind; exit status 1 when any target crashed
# Without --ci, new inputs collect in build/fuzz/corpus/<target> (the checked-in
# seeds in fuzz/corpus/<target> are read, never written) and findings in
# build/fuzz/findings/<target>. The exit status is 1 when any target crashed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN="$ROOT/build/fuzz/fuzz"
seconds=60 jobs=1 ci=0 targets=()
while (($#)); do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --ci) ci=1; shift ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if ((${#targets[@]} == 0)); then
  for f in "$BIN"/*_fuzzer; do [[ -x "$f" ]] && targets+=("$(basename "$f" _fuzzer)"); done
fi
if ((${#targets[@]} == 0)); then
  echo "fuzz.sh: no fuzz targets in $BIN; build the fuzz preset first" >&2
  exit 2
fi

if ((ci)); then
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
else
  WORK="$ROOT/build/fuzz"
fi
export QX_FUZZ_TMP=${QX_FUZZ_TMP:-$( [[ -w /dev/shm ]] && echo /dev/shm || echo /tmp )}

run_target() {
  local t=$1 corpus="$WORK/corpus/$1" findings="$WORK/findings/$1"
  mkdir -p "$corpus" "$findings"
  # Leaks, timeouts (10 s per input) and memory beyond 2 GB count as crashes.
  nice -n 10 "$BIN/${t}_fuzzer" "$corpus" "$ROOT/fuzz/corpus/$t" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" >"$WORK/$t.log" 2>&1 || true
}

running=0
for t in "${targets[@]}"; do
  [[ -x "$BIN/${t}_fuzzer" ]] || { echo "fuzz.sh: no target $t" >&2; exit 2; }
  run_target "$t" &
  if ((++running >= jobs)); then wait -n || true; ((running--)); fi
done
wait

status=0
printf '%-18s %12s %10s %8s %8s\n' target executions coverage features crashes
for t in "${targets[@]}"; do
  log="$WORK/$t.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -ao 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -ao 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  crashes=$(find "$WORK/findings/$t" -type f | wc -l)
  # A run that died before its statistics counts as a crash too.
  if [[ -z "$execs" ]] && ((crashes == 0)); then crashes=1; fi
  printf '%-18s %12s %10s %8s %8s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$crashes"
  if ((crashes)); then
    status=1
    grep -a -m3 -E 'ERROR|SUMMARY|runtime error|deadly signal' "$log" | sed 's/^/    /' || true
    ((ci)) || echo "    log: $log; inputs: $WORK/findings/$t/"
  fi
done
exit $status
