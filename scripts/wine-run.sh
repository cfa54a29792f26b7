#!/usr/bin/env bash
# Runs a Windows program under Wine in a project prefix, creating the prefix on
# first use. Usage: wine-run.sh [--root DIR] [--arch win32|win64] PROGRAM [ARGS...]
# The exit code is the Windows program's; 77 means "cannot run here" (a win32
# prefix needs the kernel's 32-bit emulation, which some machines switch off).
# WINEDEBUG defaults to -all.
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
mkdir -p "$root"
root=$(cd "$root" && pwd)
if [[ "$arch" == win64 ]]; then
  loader=/usr/lib/wine/wine64
else
  loader=/usr/lib/wine/wine
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "wine-run: this machine cannot execute 32-bit programs (kernel ia32 emulation off); skipped" >&2
    exit 77
  fi
fi
export WINEPREFIX=${QX_WINEPREFIX:-$root/prefix-$arch}
export WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
(
  flock 9
  if [[ ! -f "$WINEPREFIX/.qx-ready" ]]; then
    rm -rf "$WINEPREFIX"
    WINEDEBUG=-all "$loader" wineboot -i >/dev/null 2>&1
    WINEDEBUG=-all wineserver -w
    touch "$WINEPREFIX/.qx-ready"
  fi
) 9>"$WINEPREFIX.lock"
exec "$loader" "$@"
