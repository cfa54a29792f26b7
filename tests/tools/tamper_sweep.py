#!/usr/bin/env python3
"""Tamper sweep: flips one byte at a time at positions spread over every
signed region of a finished installer and checks that the stub's own checks
(through `qxpack verify`, which runs the stub's code) refuse every flip.

Regions: the stub's image before its "_SG2" record (code, data, "_SG1"; the
volatile header fields that the header-range signature leaves out are
skipped), the setup program's signed part inside "LOAD", and the inner
bundle inside it ("IBND": header, records, signature block). Flips inside
"LOAD" get a corrected attachment digest, so what refuses them is a
signature, not the digest.

Usage: tamper_sweep.py --qxpack QXPACK INSTALLER [--per-region N]
Prints the count per region; exit 0 when every flip was refused."""
import argparse
import hashlib
import os
import struct
import subprocess
import sys
import tempfile

TRAILER = 28
MASK = 0xA7


def chain(data, end):
    """Attachments of the chain ending at `end`, nearest the end first:
    (type, data offset, size, trailer offset)."""
    out = []
    while end >= TRAILER:
        t = end - TRAILER
        size, kind, magic = struct.unpack_from("<I4s4s", data, t + 16)
        if magic != b"ABD2" or size > t:
            break
        out.append((kind.decode("latin-1"), t - size, size, t))
        end = t - size
    return out


def pe_layout(data):
    e = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, e + 6)[0]
    opt = struct.unpack_from("<H", data, e + 20)[0]
    pe32 = struct.unpack_from("<H", data, e + 24)[0] == 0x10B
    table = e + 24 + opt
    last = table + 40 * (count - 1)
    raw_size, raw_ptr = struct.unpack_from("<II", data, last + 16)
    first_raw = struct.unpack_from("<I", data, table + 20)[0]
    nt = 248 if pe32 else 264
    volatile = [(e + 6, 2), (e + 80, 4), (e + 88, 4), (e + (152 if pe32 else 168), 8)]
    slack = e + nt + 40 * (count - 1)
    volatile.append((slack, first_raw - slack))
    return raw_ptr + raw_size, volatile


def spread(start, end, n, skip=()):
    if end <= start:
        return []
    step = max(1, (end - start) // n)
    return [p for p in range(start + step // 2, end, step)
            if not any(a <= p < a + l for a, l in skip)][:n]


class Installer:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = bytearray(f.read())
        section_end, self.volatile = pe_layout(self.data)
        self.stub_chain = {c[0]: c for c in chain(self.data, section_end)}
        _, off, size, _ = self.stub_chain["LOAD"]
        self.load = bytes(b ^ MASK for b in self.data[off:off + size])
        self.setup_chain = {c[0]: c for c in chain(self.load, len(self.load))}

    def regions(self, n):
        sg2 = self.stub_chain["_SG2"][1]
        ibnd = self.setup_chain["IBND"]
        return {
            "stub image and _SG1": [("stub", p) for p in spread(0, sg2, n, self.volatile)],
            "setup program": [("load", p) for p in spread(0, ibnd[1], n)],
            "inner bundle": [("load", p) for p in spread(ibnd[1], ibnd[1] + ibnd[2], n)],
        }

    def flipped(self, where, pos):
        data = bytearray(self.data)
        if where == "stub":
            data[pos] ^= 0x01
            return data
        _, off, size, trailer = self.stub_chain["LOAD"]
        plain = bytearray(self.load)
        plain[pos] ^= 0x01
        data[off + pos] = plain[pos] ^ MASK
        data[trailer:trailer + 16] = hashlib.md5(plain).digest()
        return data


def sweep(qxpack, installer, per_region, work):
    inst = Installer(installer)
    results = {}
    for name, positions in inst.regions(per_region).items():
        refused = 0
        for where, pos in positions:
            path = os.path.join(work, "flip.exe")
            with open(path, "wb") as f:
                f.write(inst.flipped(where, pos))
            r = subprocess.run([qxpack, "verify", path], capture_output=True)
            if r.returncode != 0:
                refused += 1
            else:
                print("NOT refused: %s byte %d" % (name, pos))
        results[name] = (refused, len(positions))
    return results


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--qxpack", required=True)
    p.add_argument("--per-region", type=int, default=100)
    p.add_argument("installer")
    a = p.parse_args()
    with tempfile.TemporaryDirectory() as work:
        results = sweep(a.qxpack, a.installer, a.per_region, work)
    total = sum(n for _, n in results.values())
    refused = sum(r for r, _ in results.values())
    for name, (r, n) in results.items():
        print("%-22s %d of %d flips refused" % (name, r, n))
    print("total: %d of %d flips refused" % (refused, total))
    return 0 if refused == total and total > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
