#!/usr/bin/env python3
"""Where the bytes of the stub go: links Stub.exe once more, unstripped and
with a linker map, from a configured build folder, and prints the sizes of
its code, read-only data, unwind tables and data by library and by object.

Usage: python3 scripts/size_report.py [BUILD_DIR] [--objects N]
(BUILD_DIR defaults to build/win32; the build must be up to date.)"""
import argparse
import collections
import os
import re
import shlex
import subprocess
import sys
import tempfile

SECTIONS = (".text", ".rdata", ".eh_frame", ".data")
# Library names as the map shows them, and the group each belongs to.
GROUPS = (("libcryptopp.a", "Crypto++"), ("libstdc++.a", "libstdc++"), ("libsupc++.a", "libstdc++"),
          ("libgcc", "libgcc"), ("libz.a", "zlib"), ("objects.a", "own code"), ("libqx", "own code"),
          ("libmingw", "mingw runtime"), ("libmsvcrt", "mingw runtime"), ("libmoldname", "mingw runtime"),
          ("crt", "mingw runtime"))


def link_with_map(build, work):
    """The Stub's own link command, unstripped, writing a map; the map's path."""
    folder = os.path.join(build, "InstallerLogic")
    with open(os.path.join(folder, "CMakeFiles", "Stub.dir", "link.txt")) as f:
        lines = [l for l in f.read().splitlines() if l.strip()]
    args = shlex.split(lines[-1])
    exe, mapfile = os.path.join(work, "Stub.exe"), os.path.join(work, "Stub.map")
    out = []
    for i, a in enumerate(args):
        if a == "-s" or a.startswith("-Wl,--out-implib"):
            continue
        if i > 0 and args[i - 1] == "-o":
            a = exe
        out.append(a)
    subprocess.run(out + ["-Wl,-Map=" + mapfile], cwd=folder, check=True)
    return mapfile


def input_sections(mapfile):
    """(output section, size, source) for every input section the map lists."""
    section, pending = None, False
    with open(mapfile, errors="replace") as f:
        for line in f:
            m = re.match(r"^(\.\S+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+", line)
            if m:
                section = m.group(1)
                continue
            m = re.match(r"^ \.\S+\s*$", line)
            if m:  # the name alone; address, size and source follow on the next line
                pending = True
                continue
            m = re.match(r"^ (?:\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if m and (pending or not line.startswith("  ")) and not m.group(2).startswith("0x"):
                yield section, int(m.group(1), 16), m.group(2)
            pending = False


def group_of(source):
    for needle, group in GROUPS:
        if needle in source:
            return group
    return "other"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build", nargs="?", default="build/win32")
    p.add_argument("--objects", type=int, default=25)
    a = p.parse_args()
    with tempfile.TemporaryDirectory() as work:
        mapfile = link_with_map(a.build, work)
        by_group, by_object, total = collections.Counter(), collections.Counter(), collections.Counter()
        for section, size, source in input_sections(mapfile):
            if section in SECTIONS and size:
                by_group[group_of(source), section] += size
                by_object[re.sub(r"^.*/", "", source)] += size
                total[section] += size
    stub = os.path.join(a.build, "InstallerLogic", "Stub.exe")
    print("%s: %d bytes" % (stub, os.path.getsize(stub)))
    groups = sorted({g for g, _ in by_group}, key=lambda g: -sum(by_group[g, s] for s in SECTIONS))
    print("%-14s" % "library" + "".join("%10s" % s for s in SECTIONS) + "%10s" % "total")
    for g in groups + ["all"]:
        row = [total[s] if g == "all" else by_group[g, s] for s in SECTIONS]
        print("%-14s" % g + "".join("%10d" % v for v in row) + "%10d" % sum(row))
    print("\nlargest objects (all four sections):")
    for name, size in by_object.most_common(a.objects):
        print("%10d  %s" % (size, name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
