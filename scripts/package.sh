#!/usr/bin/env bash
# Writes build/package/qxpack_VERSION_amd64.deb: qxpack, the prebuilt i686
# Stub.exe (its key block holds the test key set; every `qxpack build` writes
# the real one), the man page and the README's packer sections. The version
# is the one `qxpack --version` prints. Builds the host and win32 presets
# first (nothing to do when they are up to date).
# Usage: package.sh
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
for preset in host win32; do
  [[ -f build/$preset/CMakeCache.txt ]] || cmake --preset "$preset" >/dev/null
done
cmake --build --preset host -j2 --target qxpack >/dev/null
cmake --build --preset win32 -j2 --target Stub >/dev/null

QXPACK=build/host/tools/qxpack/qxpack
VERSION=$("$QXPACK" --version | awk '{print $2}')
OUT=build/package
STAGE=$OUT/qxpack_${VERSION}_amd64
# One package in the folder: the one of this build.
rm -rf "$STAGE" "$OUT"/qxpack_*_amd64.deb
install -d "$STAGE/DEBIAN" "$STAGE/usr/bin" "$STAGE/usr/share/qxpack" \
           "$STAGE/usr/share/man/man1" "$STAGE/usr/share/doc/qxpack"
install -m 755 -s "$QXPACK" "$STAGE/usr/bin/qxpack"
install -m 644 build/win32/InstallerLogic/Stub.exe "$STAGE/usr/share/qxpack/Stub.exe"
gzip -9n <tools/qxpack/qxpack.1 >"$STAGE/usr/share/man/man1/qxpack.1.gz"
chmod 644 "$STAGE/usr/share/man/man1/qxpack.1.gz"
# The packer's part of the README: from installing qxpack to the PKCS #11 tokens.
awk '/^## Installing `qxpack`/ {on = 1} /^## What the tests prove/ {on = 0} on' README.md \
  >"$STAGE/usr/share/doc/qxpack/README.md"
chmod 644 "$STAGE/usr/share/doc/qxpack/README.md"

# Library dependencies as dpkg-shlibdeps finds them; it wants a control file.
SHLIBS=$(mktemp -d)
trap 'rm -rf "$SHLIBS"' EXIT
mkdir -p "$SHLIBS/debian"
printf 'Source: qxpack\n\nPackage: qxpack\nArchitecture: amd64\n' >"$SHLIBS/debian/control"
DEPENDS=$(cd "$SHLIBS" && dpkg-shlibdeps -O "$ROOT/$STAGE/usr/bin/qxpack" 2>/dev/null |
          sed -n 's/^shlibs:Depends=//p')
[[ -n "$DEPENDS" ]] || { echo "package: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

cat >"$STAGE/DEBIAN/control" <<CONTROL
Package: qxpack
Version: $VERSION
Architecture: amd64
Maintainer: Norvane release engineering <release@norvane.invalid>
Section: devel
Priority: optional
Installed-Size: $(du -sk --exclude=DEBIAN "$STAGE" | cut -f1)
Depends: $DEPENDS
Recommends: osslsigncode
Suggests: wine, softhsm2, libengine-pkcs11-openssl
Description: builds, signs, verifies and unpacks Norvane installers
 qxpack makes key sets, inner bundles and signed installers around the
 prebuilt Norvane stub (included), which trusts the key set that each build
 writes into it, and checks finished installers offline as the stub would.
CONTROL
dpkg-deb --root-owner-group -Zxz --build "$STAGE" "$OUT/qxpack_${VERSION}_amd64.deb" >/dev/null
rm -rf "$STAGE"
echo "$OUT/qxpack_${VERSION}_amd64.deb"
