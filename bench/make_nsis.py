#!/usr/bin/env python3
"""Writes the script of the benchmark's comparison installer: the same files
and setup program, packed by makensis with zlib (each file compressed on its
own, as the stub's records are), extracted to a fresh temporary folder, the
setup program run and awaited, the folder deleted. The target is the NSIS
stub: x86-unicode (32-bit, what NSIS installers ship as) or amd64-unicode.

    make_nsis.py PRODUCT.json SETUP.exe OUT.exe OUT.nsi [--target x86-unicode]
"""
import argparse
import json
import os


def nsis_script(product_path, setup, output, target):
    with open(product_path) as f:
        product = json.load(f)
    base = os.path.dirname(os.path.abspath(product_path))
    lines = [
        "Unicode true",
        "Target %s" % target,
        "SetCompressor zlib",
        "RequestExecutionLevel user",
        "SilentInstall silent",
        'Name "Norvane benchmark"',
        'OutFile "%s"' % os.path.abspath(output),
        "Section",
        "  GetTempFileName $0",
        "  Delete $0",
        "  CreateDirectory $0",
        "  SetOutPath $0",
        '  File "/oname=setup.exe" "%s"' % os.path.abspath(setup),
    ]
    for entry in product["files"]:
        source = os.path.join(base, entry["file"])
        lines.append('  File "/oname=%s" "%s"' % (entry["destination"], source))
    lines += [
        "  ExecWait '\"$0\\setup.exe\" \"$EXEPATH\"'",
        "  SetOutPath $TEMP",
        "  RMDir /r $0",
        "SectionEnd",
    ]
    return "\n".join(lines) + "\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("product")
    ap.add_argument("setup")
    ap.add_argument("output")
    ap.add_argument("script")
    ap.add_argument("--target", default="x86-unicode", choices=("x86-unicode", "amd64-unicode"))
    a = ap.parse_args()
    with open(a.script, "w") as f:
        f.write(nsis_script(a.product, a.setup, a.output, a.target))


if __name__ == "__main__":
    main()
