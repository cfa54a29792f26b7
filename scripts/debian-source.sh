# Sourced by the scripts that build a library for mingw-w64 from Debian's
# source package into .cache/.
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
