#!/usr/bin/env bash
# Runs a Windows program under Wine in a project prefix, creating the prefix on
# first use. Usage:
#   wine-run.sh [--root DIR] [--arch win32|win64] [--winver win10|winxp|winxp64] [--check] PROGRAM [ARGS...]
# A configuration is a prefix architecture (win32: 32-bit Windows; win64:
# 64-bit Windows, where a 32-bit program runs under WoW64) and the Windows
# version the prefix reports; each has a prefix of its own. The loader follows
# the program: a 32-bit PE file gets Wine's 32-bit loader in either prefix.
# The exit code is the Windows program's; 77 means "cannot run here" (32-bit
# programs need the kernel's 32-bit emulation, which some machines switch off,
# and wine32). --check only answers whether PROGRAM could run here (0 or 77,
# with the reason), without a prefix. WINEDEBUG defaults to -all.
set -uo pipefail
root=${QX_WINE_ROOT:-$(cd "$(dirname "$0")/.." && pwd)/build/wine}
arch=${QX_WINEARCH:-win32}
winver=${QX_WINVER:-win10}
check=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --root) root=$2; shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    --winver) winver=$2; shift 2 ;;
    --check) check=1; shift ;;
    *) break ;;
  esac
done
mkdir -p "$root"
root=$(cd "$root" && pwd)

can_run_32() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [[ -x /usr/lib/wine/wine ]]
}
skip_32() {
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "wine-run: this machine cannot execute 32-bit programs (kernel ia32 emulation off); skipped" >&2
  else
    echo "wine-run: 32-bit Wine (wine32) is not installed; skipped" >&2
  fi
  exit 77
}

# The PE machine field of a program file: 14c (i386), 8664 (x86_64), or empty
# for Wine's built-in programs (cmd, reg, wineboot) and anything else.
pe_machine() {
  [[ -f "$1" ]] || return 0
  local lfanew
  lfanew=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [[ -n "$lfanew" ]] || return 0
  od -An -tx2 -j$((lfanew + 4)) -N2 "$1" 2>/dev/null | tr -d ' ' | sed 's/^0*//'
}

if [[ "$arch" == win64 ]]; then
  native=/usr/lib/wine/wine64
else
  native=/usr/lib/wine/wine
  can_run_32 || skip_32
fi
loader=$native
if [[ $# -gt 0 && "$(pe_machine "$1")" == 14c ]]; then
  can_run_32 || skip_32
  loader=/usr/lib/wine/wine
fi
((check)) && exit 0

name=prefix-$arch
[[ "$winver" == win10 ]] || name+=-$winver
export WINEPREFIX=${QX_WINEPREFIX:-$root/$name}
export WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# What the prefix was made with: a win64 prefix made before wine32 was
# installed has no 32-bit half, so it is made again.
want="winver=$winver wow64=$(can_run_32 && echo yes || echo no)"
(
  flock 9
  if [[ ! -f "$WINEPREFIX/.qx-ready" || "$(cat "$WINEPREFIX/.qx-ready")" != "$want" ]]; then
    rm -rf "$WINEPREFIX"
    WINEDEBUG=-all "$native" wineboot -i >/dev/null 2>&1
    WINEDEBUG=-all "$native" winecfg -v "$winver" >/dev/null 2>&1
    WINEDEBUG=-all wineserver -w
    echo "$want" > "$WINEPREFIX/.qx-ready"
  fi
) 9>"$WINEPREFIX.lock"
exec "$loader" "$@"
