#!/usr/bin/env bash
# Runs a Windows program under Wine in a project prefix, creating the prefix on
# first use. Usage: wine-run.sh [--root DIR] [--arch win32|win64] PROGRAM [ARGS...]
# The exit code is the Windows program's. WINEDEBUG defaults to -all.
set -uo pipefail
root=${QX_WINE_ROOT:-$(cd "$(dirname "$0")/.." && pwd)/build/wine}
arch=${QX_WINEARCH:-win32}
while [[ $# -gt 0 ]]; do
  case "$1" in
    --root) root=$2; shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    *) break ;;
  esac
done
export WINEPREFIX=${QX_WINEPREFIX:-$root/prefix-$arch}
export WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [[ ! -f "$WINEPREFIX/.qx-ready" ]]; then
    rm -rf "$WINEPREFIX"
    WINEDEBUG=-all wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.qx-ready"
  fi
) 9>"$WINEPREFIX.lock"
prog=$1; shift
if [[ "$arch" == win64 ]]; then exec wine64 "$prog" "$@" 2> >(grep -v '^[0-9a-f]*:fixme' >&2); fi
exec wine "$prog" "$@"
