#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (run as root).
# Idempotent: when everything is present it only checks and returns.
# A mirror that is being synced makes `apt-get update` fail for a while; the
# update is retried, and then the set-up goes on with the indexes it has as long
# as the packages can still be installed. wine32 (i386) is wanted only where this
# machine runs 32-bit programs.
set -euo pipefail

PKGS=(cmake g++ make ninja-build googletest libgtest-dev pkg-config
      libcrypto++-dev zlib1g-dev nlohmann-json3-dev
      g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 binutils-mingw-w64-i686
      g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 libz-mingw-w64-dev
      wine wine64 xvfb x11-utils x11-apps xdotool osslsigncode openssl file python3
      nsis clang-14 libclang-rt-14-dev
      softhsm2 libp11-kit-dev libengine-pkcs11-openssl libdeflate-dev
      dpkg-dev man-db)
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  PKGS+=(wine32:i386)
else
  echo "install-deps: this machine cannot run 32-bit programs; wine32 not installed (32-bit tests will be skipped)"
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# Retries `apt-get update`; a last failure is reported, not fatal: what follows
# decides whether the indexes at hand are enough.
update_indexes() {
  local attempt
  for attempt in 1 2 3 4; do
    if apt-get update -qq; then return 0; fi
    echo "install-deps: apt-get update failed (attempt $attempt of 4)" >&2
    ((attempt < 4)) && sleep $((attempt * 15))
  done
  echo "install-deps: going on with the package indexes at hand" >&2
  return 0
}

# Without the security suite's i386 index only the main suite's versions of
# wine32's libraries exist for i386, and each must equal its installed amd64
# twin (Multi-Arch: same). The twins that differ are moved to the main suite's
# version with it (mostly upgrades from an older base image; a twin that the
# security suite updated is taken back to the point release).
twins_at_main_versions() {
  local closure p cand inst ver ma
  closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
              --no-replaces --no-enhances wine32:i386 2>/dev/null | grep -E '^[a-z0-9]' | grep ':i386$' | sort -u)
  apt-cache -o APT::Default-Release=bookworm policy $closure 2>/dev/null |
    awk '/^[^ ].*:$/ {name=$1; sub(/:$/, "", name)} /^  Candidate:/ {print name, $2}' |
    while read -r p cand; do
      [[ "$cand" == "(none)" ]] && continue
      inst=$(dpkg-query -W -f='${db:Status-Abbrev}|${Version}|${Multi-Arch}' "${p%:i386}:amd64" 2>/dev/null) || continue
      [[ "$inst" == ii* ]] || continue
      IFS='|' read -r _ ver ma <<<"$inst"
      if [[ "$ma" == same && "$ver" != "$cand" ]]; then echo "${p%:i386}:amd64=$cand $p=$cand"; fi
    done
}

install_wine32_from_main() {
  local pins
  pins=$(twins_at_main_versions | tr '\n' ' ')
  # shellcheck disable=SC2086
  if apt-get install -y -qq -t bookworm --allow-downgrades --no-install-recommends wine32:i386 $pins >/dev/null; then
    local names
    names=$(tr ' ' '\n' <<<"$pins" | sed -n 's/:amd64=.*//p' | tr '\n' ' ')
    echo "install-deps: the security suite's i386 index is unavailable; wine32 installed from the main suite${names:+, these amd64 libraries moved to its versions: $names}"
  else
    echo "install-deps: wine32 could not be installed (i386 index unavailable); 32-bit configurations will be skipped"
  fi
}

missing=()
need_i386=0
for p in "${PKGS[@]}"; do
  if ! installed "$p"; then
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
  update_indexes
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # One more update and try, for a mirror that finished its sync meanwhile.
    echo "install-deps: install failed; updating the indexes once more" >&2
    sleep 30
    update_indexes
    if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
      ((need_i386)) || exit 1
      # wine32's libraries must match the amd64 ones exactly, so a missing i386
      # index stops only it: the rest installs, then wine32 from the main suite.
      rest=()
      for p in "${missing[@]}"; do [[ "$p" == *:i386 ]] || rest+=("$p"); done
      if ((${#rest[@]})); then apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null; fi
      install_wine32_from_main
    fi
  fi
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
  update_indexes
fi
