#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/
from qxpack output (development keys), small enough to check in.

Usage: make_seeds.py --qxpack PATH [--keys DIR] [--out DIR]"""
import argparse
import os
import shutil
import struct
import subprocess
import tempfile

from measure_crafted import attachment

HERE = os.path.dirname(os.path.abspath(__file__))


def key_block(keys):
    """The key block a stub carries (integrity/key_block.h) for the key set `keys`."""
    halves = []
    for name in ("root.pub.der", "exe-signing.pub.der", "bundle-key.bin"):
        with open(os.path.join(keys, name), "rb") as f:
            halves.append(f.read())
    return (b"NorvaneKeyBlock1" + struct.pack("<4I", 1, *map(len, halves)) + b"".join(halves)).ljust(6144, b"\0")


def tiny_pe(amd64=False, text=b"\xc3"):
    """A small PE image: headers and one .text section holding `text` (1 KiB
    for the default), with header slack for the bundle section the packer adds."""
    lfanew = 0x80
    optional_size = 240 if amd64 else 224
    raw = len(text) + -len(text) % 0x200
    image = bytearray(0x200 + raw)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, lfanew)
    struct.pack_into("<4sHHIIIHH", image, lfanew, b"PE\0\0", 0x8664 if amd64 else 0x14C, 1,
                     0, 0, 0, optional_size, 0x0102)
    opt = lfanew + 24
    struct.pack_into("<HBBIII", image, opt, 0x20B if amd64 else 0x10B, 14, 0, raw, 0, 0)
    struct.pack_into("<II", image, opt + 16, 0x1000, 0x1000)  # entry point, base of code
    if amd64:
        struct.pack_into("<Q", image, opt + 24, 0x140000000)
    else:
        struct.pack_into("<II", image, opt + 24, 0x2000, 0x400000)
    struct.pack_into("<IIHHHHHHIIII", image, opt + 32, 0x1000, 0x200, 5, 1, 0, 0, 5, 1, 0,
                     0x1000 + raw + -raw % 0x1000, 0x200, 0)
    struct.pack_into("<HH", image, opt + 68, 2, 0x8140)  # GUI subsystem
    dirs = opt + (112 if amd64 else 96)
    struct.pack_into("<I", image, dirs - 4, 16)
    section = opt + optional_size
    struct.pack_into("<8sIIIIIIHHI", image, section, b".text", max(len(text), 0x10), 0x1000, raw, 0x200,
                     0, 0, 0, 0, 0x60000020)
    image[0x200:0x200 + len(text)] = text
    return bytes(image)


def with_certificate_table(pe, amd64=False, appended=b""):
    """The file as an Authenticode signer leaves it: padding to 8 bytes and a
    certificate table the data directory points at, then `appended`."""
    out = bytearray(pe + bytes(-len(pe) % 8))
    lfanew = struct.unpack_from("<I", out, 0x3C)[0]
    entry = lfanew + 24 + (144 if amd64 else 128)
    table = struct.pack("<IHH", 0x300, 0x200, 2) + bytes(0x300 - 8)
    struct.pack_into("<II", out, entry, len(out), len(table))
    return bytes(out) + table + appended


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--qxpack", required=True)
    p.add_argument("--keys", default=os.path.join(HERE, "..", "keys", "dev"))
    p.add_argument("--out", default=os.path.join(HERE, "corpus"))
    a = p.parse_args()
    corpus = {}

    def seed(target, name, data):
        corpus.setdefault(target, {})[name] = data

    def qx(*args):
        subprocess.run([a.qxpack] + list(args), check=True, stdout=subprocess.DEVNULL)

    with tempfile.TemporaryDirectory() as d:
        def path(name, data=None):
            full = os.path.join(d, name)
            if data is not None:
                with open(full, "wb") as f:
                    f.write(data)
            return full

        def read(name):
            with open(path(name), "rb") as f:
                return f.read()

        # Inner bundles: a script and two small files in 16-byte chunks, and
        # one with an empty record.
        script = b"dep-gui,readme,readme.txt\r\ndep-x64-gui,lib,bin\\lib.dll\n# note\n"
        qx("inner", "-o", path("b1.ibnd"), "--keys", a.keys, "--script", path("script", script),
           "--chunk-size", "16", "readme=" + path("readme", b"Norvane readme\nline two\n"),
           "lib=" + path("lib", bytes(range(40))))
        qx("inner", "-o", path("b2.ibnd"), "--keys", a.keys, "--script", path("s2", b"x\n"),
           "empty=" + path("empty", b""))
        seed("inner_bundle", "signed", read("b1.ibnd"))
        seed("inner_bundle", "empty-record", read("b2.ibnd"))
        seed("install_script", "script", script)
        seed("install_script", "mixed",
             b"dep-x86-w<6-silent,a,a.txt\ndep-w6+-gui,b,dir/b.bin\r\n  dep-gui,c,..\\c\n"
             b"DEP-gui,d,d\ndep-gui,e\n\n#dep-gui,f,f\ndep-gui,g,C:\\g\n")

        # Executables: the setup program signed over its whole prefix and
        # carrying the inner bundle; the finished installer built from a
        # stub; and the installer as an Authenticode signer leaves it, with
        # an "A404" chain after the certificate table.
        setup = path("setup.exe", tiny_pe())
        qx("sign", setup, "--keys", a.keys)
        qx("attach", setup, "IBND", path("b2.ibnd"))
        qx("stub", "--stub", path("stub.exe", tiny_pe(text=b"\xc3".ljust(16, b"\0") + key_block(a.keys))),
           "--setup", setup, "--type", "gui",
           "--keys", a.keys, "-o", path("installer.exe"))
        installer = read("installer.exe")
        wrapped = with_certificate_table(installer, appended=attachment(b"A404", b"av data"))
        qx("sign", path("setup64.exe", tiny_pe(True)), "--keys", a.keys)
        setup64 = with_certificate_table(read("setup64.exe"), amd64=True)
        for target in ("pe_chain", "file_signature"):
            seed(target, "setup-signed", read("setup.exe"))
            seed(target, "installer", installer)
            seed(target, "installer-certificate", wrapped)
            seed(target, "setup64-certificate", setup64)
        seed("pe_chain", "plain-chain", attachment(b"TYPE", b"gui") + attachment(b"LOAD", b"MZ"))

        # The signature record over the signature record target's fixed part.
        qx("sign", path("p600", b"P" * 600), "--keys", a.keys)
        signed = read("p600")
        size = struct.unpack_from("<I", signed, len(signed) - 12)[0]
        record = bytes(b ^ 0xA7 for b in signed[600:600 + size])
        seed("signature_record", "signed", record)
        seed("json", "signature-record", record)

        # Key certificates: the key set's own and one for another goal.
        with open(os.path.join(a.keys, "bundle-signing.cert"), "rb") as f:
            seed("key_certificate", "ibnd", f.read())
        qx("cert", "--root", os.path.join(a.keys, "root.key.der"), "--key",
           os.path.join(a.keys, "bundle-signing.pub.der"), "--goal", "AVSG", "--expires",
           "2030-01-01", "-o", path("avsg.cert"))
        seed("key_certificate", "avsg", read("avsg.cert"))

    seed("json", "log-config", b'{"enable": 1, "maxFileSizeMb": 5, "maxBackupsCount": 3,\n'
                               b' "filePath": "C:\\\\Logs\\\\QxDBG.log", "maxRunTime": -1.5e2,\n'
                               b' "include": ["a", "b"], "x": null, "y": [true, false]}\n')
    seed("json", "escapes", b'["\\u00e9\\ud83d\\ude00\\n\\t\\"\\\\\\/", 007, 1e5e6, [[{}]], tru 1]')
    seed("json", "deep", b"[" * 520 + b'["],", {"]": "["}, 7]' + b"]" * 520)
    for name, args in (("plain", ["/S", "--lang=de"]),
                       ("quoting", ["", "a b", 'say "hi"', "C:\\dir\\", 'x\\"y', "\t"]),
                       ("unicode", ["Übersicht", "日本語"])):
        seed("command_line", name, "\0".join(args).encode("utf-16-le"))

    for target, seeds in corpus.items():
        folder = os.path.join(a.out, target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        print("%-18s %2d seeds %7d bytes" % (target, len(seeds), sum(map(len, seeds.values()))))


if __name__ == "__main__":
    main()
