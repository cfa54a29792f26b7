#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (run as root).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PKGS=(cmake g++ make ninja-build googletest libgtest-dev pkg-config
      libcrypto++-dev zlib1g-dev nlohmann-json3-dev
      g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 binutils-mingw-w64-i686
      g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 libz-mingw-w64-dev
      wine wine32:i386 wine64 xvfb x11-utils x11-apps xdotool osslsigncode openssl file python3
      nsis clang-14 libclang-rt-14-dev)

missing=()
need_i386=0
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
    [[ "$p" == *:i386 ]] && need_i386=1
  fi
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: missing packages (${missing[*]}); run as root" >&2
    exit 1
  fi
  if ((need_i386)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Crypto++ for the Windows target is built from Debian's source package; the
# source needs a deb-src entry, kept in a file of its own so the system list is untouched.
SRC_LIST=/etc/apt/sources.list.d/norvane-deb-src.sources
if [[ ! -f "$SRC_LIST" ]]; then
  base=/etc/apt/sources.list.d/debian.sources
  if [[ -f "$base" ]]; then
    # Copy the first stanza's URIs, Suites, Components and Signed-By, as a deb-src stanza.
    awk 'BEGIN{RS="";FS="\n"} NR==1{
           for(i=1;i<=NF;i++){ if($i ~ /^(URIs|Suites|Components|Signed-By):/) print $i }
         }' "$base" > /tmp/norvane-src.$$
    { echo "Types: deb-src"; cat /tmp/norvane-src.$$; } > "$SRC_LIST"
    rm -f /tmp/norvane-src.$$
  else
    line=$(grep -E '^deb [^ ]+ bookworm ' /etc/apt/sources.list | head -1)
    echo "${line/deb /deb-src }" > "${SRC_LIST%.sources}.list"
    SRC_LIST="${SRC_LIST%.sources}.list"
  fi
  apt-get update -qq
fi
