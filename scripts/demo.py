#!/usr/bin/env python3
"""Builds a demonstration installer with the development keys and runs it under
Wine with tracing switched on, printing what the stub does.

The product stub (i686) runs where this machine can execute 32-bit programs;
elsewhere the same code built for x86_64 runs under 64-bit Wine."""
import argparse
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    p.add_argument("--type", default="silent", help='run mode text ("gui" shows the progress window)')
    args = p.parse_args()
    wine_run = os.path.join(ROOT, "scripts", "wine-run.sh")
    qxpack = os.path.join(args.build, "host", "tools", "qxpack", "qxpack")
    keys = os.path.join(ROOT, "keys", "dev")

    arch, stub = "win32", os.path.join(args.build, "win32", "InstallerLogic", "Stub.exe")
    if subprocess.run([wine_run, "--root", os.path.join(args.build, "win32", "wine"), "--arch", "win32",
                       "cmd", "/c", "exit", "0"], capture_output=True).returncode == 77:
        print("note: this machine cannot run 32-bit programs; running the x86_64 build of the stub")
        arch, stub = "win64", os.path.join(args.build, "win64", "InstallerLogic", "Stub.exe")
    root = os.path.join(args.build, arch, "wine")

    work = tempfile.mkdtemp(prefix="qx-demo-")
    setup = os.path.join(work, "setup.bin")
    with open(setup, "wb") as f:
        f.write(b"demonstration setup program payload\n" * 1000)
    installer = os.path.join(work, "NorvaneSetup.exe")
    subprocess.run([qxpack, "stub", "--stub", stub, "--setup", setup, "--type", args.type,
                    "--keys", keys, "-o", installer], check=True)
    print("== installer:", installer)
    subprocess.run([qxpack, "inspect", installer], check=False)

    def wine(*cmd, debug="-all"):
        env = dict(os.environ, WINEDEBUG=debug)
        return subprocess.run([wine_run, "--root", root, "--arch", arch] + list(cmd),
                              capture_output=True, env=env)

    wine("reg", "add", r"HKLM\Software\Kestrowan", "/v", "QXSTR", "/t", "REG_SZ", "/d", "!Tracelog!",
         "/f", "/reg:64")
    try:
        print("== running the installer under Wine (%s), trace on" % arch)
        r = wine(installer, "--demo-argument", debug="warn+debugstr")
        for m in re.finditer(rb'OutputDebugStringA "(.*)"', r.stderr):
            print("  " + m.group(1).decode("latin-1").encode("latin-1").decode("unicode_escape").rstrip("\n"))
        print("== exit code:", r.returncode)
    finally:
        wine("reg", "delete", r"HKLM\Software\Kestrowan", "/v", "QXSTR", "/f", "/reg:64")
    return 0 if r.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
