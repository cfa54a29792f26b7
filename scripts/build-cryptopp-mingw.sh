#!/usr/bin/env bash
# Builds Crypto++ for mingw-w64 (win32 threads) from Debian's source package,
# once per architecture, into a cache folder that later builds reuse.
# Usage: build-cryptopp-mingw.sh [i686|x86_64]   (default i686, the product's)
# Result: $CACHE/include/cryptopp/*.h and $CACHE/lib/libcryptopp.a
set -euo pipefail
ARCH=${1:-i686}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# The folder name carries the version of how the library is built (flags and
# the changes below; bump it when they change, cmake/win32-deps.cmake follows):
# a checkout then builds its own library, folders built otherwise stay untouched.
FLAGS_VERSION=5
source "$ROOT/scripts/debian-source.sh"
mingw_cache cryptopp "${QX_CRYPTOPP_CACHE:-}" lib/libcryptopp.a include/cryptopp/cryptlib.h
tarball=$(debian_source libcrypto++ cryptopp)
rm -rf build && mkdir build
tar -xf "$tarball" -C build --strip-components=1 2>/dev/null || tar -xf "$tarball" -C build
srcdir=build
[[ -f "$srcdir/GNUmakefile-cross" ]] || srcdir=$(dirname "$(find build -name GNUmakefile-cross | head -1)")

# Three changes of what goes into the library, none of what the code does. The
# mingw linker keeps every function that has unwind data (.pdata, .eh_frame),
# so --gc-sections cannot drop unused code: a program gets every function of
# every library object it pulls in.
# 1. dll.cpp explicitly instantiates the templates of nearly every algorithm
#    (about 600 KB of code). A program that pulls it in for one of them gets
#    them all, so it is replaced by the few instantiations the other objects
#    of the library expect from it.
# 2. The stream operators of Integer and OID move from integer.cpp and asn.cpp
#    into an object of their own, so that a program that prints neither does
#    not link the C++ iostreams and locales (about 800 KB).
rm "$srcdir/dll.cpp"
# One object per group, so that a program gets only the groups it uses. A
# program that needs another of dll.cpp's instantiations fails to link,
# naming it; it belongs here then.
instances() {  # FILE INCLUDES... -- CLASSES...
  local file=$1; shift
  {
    echo "// Instantiations that the library's other objects declare extern; dll.o held them."
    echo '#include "pch.h"'
    while [[ $1 != -- ]]; do echo "#include \"$1\""; shift; done; shift
    echo "NAMESPACE_BEGIN(CryptoPP)"
    for c in "$@"; do echo "template class $c;"; done
    echo "NAMESPACE_END"
  } >"$srcdir/$file"
}
instances qx_inst_algebra.cpp integer.h algebra.h algebra.cpp modarith.h -- \
  'AbstractGroup<Integer>' 'AbstractRing<Integer>' 'AbstractEuclideanDomain<Integer>'
instances qx_inst_algparam.cpp algparam.h -- \
  'AlgorithmParametersTemplate<int>' 'AlgorithmParametersTemplate<ConstByteArrayParameter>'
instances qx_inst_oaep.cpp oaep.h sha.h -- 'OAEP<SHA1>'
instances qx_inst_modes.cpp strciphr.h strciphr.cpp modes.h -- \
  'AbstractPolicyHolder<AdditiveCipherAbstractPolicy, SymmetricCipher>' \
  'AdditiveCipherTemplate<AbstractPolicyHolder<AdditiveCipherAbstractPolicy, SymmetricCipher> >' \
  'CFB_CipherTemplate<AbstractPolicyHolder<CFB_CipherAbstractPolicy, SymmetricCipher> >' \
  'CFB_EncryptionTemplate<AbstractPolicyHolder<CFB_CipherAbstractPolicy, SymmetricCipher> >' \
  'CFB_DecryptionTemplate<AbstractPolicyHolder<CFB_CipherAbstractPolicy, SymmetricCipher> >' \
  'CFB_CipherTemplate<AbstractPolicyHolder<CFB_CipherAbstractPolicy, CFB_ModePolicy> >' \
  'CFB_EncryptionTemplate<AbstractPolicyHolder<CFB_CipherAbstractPolicy, CFB_ModePolicy> >' \
  'CFB_DecryptionTemplate<AbstractPolicyHolder<CFB_CipherAbstractPolicy, CFB_ModePolicy> >' \
  'AdditiveCipherTemplate<AbstractPolicyHolder<AdditiveCipherAbstractPolicy, OFB_ModePolicy> >' \
  'AdditiveCipherTemplate<AbstractPolicyHolder<AdditiveCipherAbstractPolicy, CTR_ModePolicy> >'
python3 - "$srcdir" <<'EOF'
import sys, os
src = sys.argv[1]

def read(name):
    with open(os.path.join(src, name)) as f:
        return f.read()

def write(name, text):
    with open(os.path.join(src, name), "w") as f:
        f.write(text)

def function_end(text, start):
    """Index just past the closing brace of the function starting at `start`."""
    depth = 0
    for i in range(text.index("{", start), len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return i + 1
    sys.exit("unbalanced braces")

def cut(text, first, last):
    """Removes the functions from the one starting with `first` to the end of
    the one starting with `last`; returns (rest, removed)."""
    if text.count(first) != 1 or text.count(last) != 1:
        sys.exit("build-cryptopp-mingw: source differs from the expected one: " + first)
    a = text.index(first)
    b = function_end(text, text.index(last))
    return text[:a] + text[b:], text[a:b]

RANDOM_CTOR = ("Integer::Integer(RandomNumberGenerator &rng, const Integer &min, const Integer &max, "
               "RandomNumberType rnType, const Integer &equiv, const Integer &mod)")
RSA_ISO_INVERSE = "Integer InvertibleRSAFunction_ISO::CalculateInverse(RandomNumberGenerator &rng, const Integer &x) const"

def drop_includes(text, names):
    for name in names:
        line = "#include <%s>\n" % name
        if line not in text:
            sys.exit("build-cryptopp-mingw: no %s include to drop" % name)
        text = text.replace(line, "")
    return text

integer, integer_io = cut(read("integer.cpp"),
                          "std::istream& operator>>(std::istream& in, Integer &a)",
                          "std::ostream& operator<<(std::ostream& out, const Integer &a)")
asn, asn_io = cut(read("asn.cpp"), "std::ostream& OID::Print(std::ostream& out) const",
                  "std::ostream& OID::Print(std::ostream& out) const")
# 3. Making random numbers (primes among them) moves from integer.cpp, and the
#    private RSA key from rsa.cpp, into objects of their own: a program that
#    only checks signatures then links neither the prime search (nbtheory.o)
#    nor key generation.
integer, random_ctor = cut(integer, RANDOM_CTOR, RANDOM_CTOR)
integer, random_rest = cut(integer, "bool Integer::Randomize(RandomNumberGenerator &rng, const Integer &min, "
                           "const Integer &max, RandomNumberType rnType",
                           "bool Integer::GenerateRandomNoThrow(")
write("qx_integer_random.cpp",
      "// Random Integers, moved here from integer.cpp.\n"
      "#include \"pch.h\"\n#include \"integer.h\"\n#include \"nbtheory.h\"\n#include \"algparam.h\"\n"
      "#include \"asn.h\"\n#include \"pubkey.h\"\n#include \"sha.h\"\n#include \"smartptr.h\"\n#include \"misc.h\"\n\n"
      "NAMESPACE_BEGIN(CryptoPP)\n\n" + random_ctor + "\n\n" + random_rest + "\n\nNAMESPACE_END\n")
rsa, rsa_private = cut(read("rsa.cpp"), "class RSAPrimeSelector : public PrimeSelector",
                       "void InvertibleRSAFunction::AssignFrom(const NameValuePairs &source)")
rsa, rsa_iso = cut(rsa, RSA_ISO_INVERSE, RSA_ISO_INVERSE)
write("rsa.cpp", rsa)
write("qx_rsa_private.cpp",
      "// The private RSA key, moved here from rsa.cpp.\n"
      "#include \"pch.h\"\n#include \"rsa.h\"\n#include \"asn.h\"\n#include \"sha.h\"\n#include \"oids.h\"\n"
      "#include \"modarith.h\"\n#include \"nbtheory.h\"\n#include \"algparam.h\"\n#include \"fips140.h\"\n"
      "#include \"pkcspad.h\"\n\nNAMESPACE_BEGIN(CryptoPP)\n\n" + rsa_private + "\n\n" + rsa_iso +
      "\n\nNAMESPACE_END\n")
write("integer.cpp", drop_includes(integer, ["iostream"]))
write("asn.cpp", drop_includes(asn, ["iostream", "iomanip", "sstream"]))
write("qx_stream_io.cpp",
      "// Stream operators of Integer and OID, moved here from integer.cpp and asn.cpp.\n"
      "#include \"pch.h\"\n#include \"integer.h\"\n#include \"asn.h\"\n#include \"secblock.h\"\n"
      "#include \"misc.h\"\n#include <iostream>\n#include <sstream>\n\n"
      "NAMESPACE_BEGIN(CryptoPP)\n\n" + integer_io + "\n\n" + asn_io + "\n\nNAMESPACE_END\n")
EOF

# -Os: a third smaller than -O2. The hashes run their SIMD code either way
# (as fast, bench/crypto_bench.cc); an RSA check takes about a quarter longer,
# some 0.1 ms, and a run makes a handful.
make -C "$srcdir" -f GNUmakefile-cross -j"$(nproc)" static \
  CXX=$TRIPLE-g++-win32 AR=$TRIPLE-ar RANLIB=$TRIPLE-ranlib \
  CXXFLAGS="-Os -DNDEBUG -ffunction-sections -fdata-sections" >"$CACHE/build.log" 2>&1
mkdir -p "$CACHE/include/cryptopp" "$CACHE/lib"
cp "$srcdir"/*.h "$CACHE/include/cryptopp/"
# The archive again, the objects the stub needs first: an inline function that
# several objects define is taken from the first of them in the archive, and
# would otherwise pull in one the stub does not need (base32.o, for one).
(
  cd "$srcdir"
  first="cryptlib.o integer.o algparam.o allocate.o asn.o filters.o fips140.o iterhash.o md5.o misc.o
         mqueue.o nbtheory.o pkcspad.o pssr.o pubkey.o queue.o qx_inst_algebra.o qx_inst_algparam.o
         rsa.o sha.o sha_simd.o cpu.o qx_inst_oaep.o sse_simd.o oaep.o"
  mkdir members && cd members && $TRIPLE-ar x ../libcryptopp.a
  order=()
  for o in $first; do [[ -f $o ]] && order+=("$o"); done
  for o in *.o; do [[ " ${order[*]} " == *" $o "* ]] || order+=("$o"); done
  $TRIPLE-ar qc ../ordered.a "${order[@]}" && $TRIPLE-ranlib ../ordered.a
)
cp "$srcdir/ordered.a" "$CACHE/lib/libcryptopp.a"
rm -rf "$CACHE/src/build"
