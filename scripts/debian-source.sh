# Sourced by the scripts that build a library for mingw-w64 from Debian's
# source package into .cache/ (they set ARCH, ROOT and FLAGS_VERSION first).

# mingw_cache PREFIX OVERRIDE FILE...: sets CACHE (OVERRIDE when given, else
# .cache/PREFIX-mingw-ARCH-vFLAGS_VERSION) and TRIPLE; ends the script when
# every FILE under CACHE is already there, else enters CACHE/src.
mingw_cache() {
  local prefix=$1 override=$2 file; shift 2
  CACHE=${override:-$ROOT/.cache/$prefix-mingw-$ARCH-v$FLAGS_VERSION}
  TRIPLE=$ARCH-w64-mingw32
  for file in "$@"; do
    [[ -f "$CACHE/$file" ]] || { mkdir -p "$CACHE/src"; cd "$CACHE/src"; return 0; }
  done
  exit 0
}

# debian_source PACKAGE CACHE_PREFIX: prints the name of the package's source
# tarball in the current folder, copied from another cache folder of the same
# library when one holds it, else downloaded (needs a deb-src entry).
debian_source() {
  local package=$1 prefix=$2 known
  if ! ls "${package}"_*.orig.tar.* >/dev/null 2>&1; then
    known=$(ls "$ROOT"/.cache/"$prefix"-mingw-*/src/"${package}"_*.orig.tar.* 2>/dev/null | head -1 || true)
    if [[ -n "$known" ]]; then
      cp "$known" .
    else
      apt-get source --download-only "$package" >/dev/null
    fi
  fi
  ls "${package}"_*.orig.tar.* | head -1
}
