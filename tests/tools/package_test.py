#!/usr/bin/env python3
"""The Debian package as a release engineer on a CI runner uses it: built by
scripts/package.sh, extracted with `dpkg -x` into a scratch folder and used
from there only: a fresh key set, an installer built with it and the packaged
stub, verified (and refused when another key set is pinned), installed under
Wine; --version, help and the man page."""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def run(*cmd, cwd=None, env=None, check=True):
    r = subprocess.run([str(c) for c in cmd], capture_output=True, text=True, cwd=cwd,
                       env=dict(os.environ, **(env or {})), timeout=600)
    if check and r.returncode != 0:
        raise AssertionError("%s: exit %d\n%s%s" % (" ".join(map(str, cmd)), r.returncode, r.stdout, r.stderr))
    return r


def main():
    p = argparse.ArgumentParser()
    for name in ("source", "setup-probe", "wine-run", "root", "arch", "work"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--winver", default="win10")
    args = p.parse_args()
    os.environ["QX_WINVER"] = args.winver
    os.makedirs(args.work, exist_ok=True)
    work = tempfile.mkdtemp(dir=args.work)
    try:
        deb = os.path.join(args.source, run("bash", os.path.join(args.source, "scripts", "package.sh"))
                           .stdout.split()[-1])
        root = os.path.join(work, "extracted")
        run("dpkg", "-x", deb, root)
        qxpack, stub = os.path.join(root, "usr", "bin", "qxpack"), os.path.join(root, "usr", "share", "qxpack",
                                                                                "Stub.exe")
        probe = run(args.wine_run, "--root", args.root, "--arch", args.arch, "--check", stub, check=False)
        if probe.returncode == SKIP:
            print(probe.stderr.strip())
            return SKIP
        # Everything below runs in the scratch folder, with its copies only.
        q = lambda *a, **kw: run(qxpack, *a, cwd=work, **kw)  # noqa: E731
        version = q("--version").stdout.split()[1]
        assert os.path.basename(deb) == "qxpack_%s_amd64.deb" % version, (deb, version)
        assert "usage: qxpack build PRODUCT.json" in q("help", "build").stdout
        assert "EXIT STATUS" in run("man", "-l", os.path.join(root, "usr", "share", "man", "man1", "qxpack.1.gz"),
                                    env={"MANPAGER": "cat", "MANWIDTH": "80"}).stdout
        q("keygen", "keys")
        q("keygen", "other-keys")
        shutil.copy(args.setup_probe, os.path.join(work, "setup.exe"))
        with open(os.path.join(work, "readme.txt"), "wb") as f:
            f.write(b"read me\r\n")
        with open(os.path.join(work, "product.json"), "w") as f:
            json.dump({"setup": "setup.exe", "type": "silent", "keys": "keys",
                       "files": [{"file": "readme.txt", "record": "readme", "tag": "dep-silent",
                                  "destination": "docs\\readme.txt"}]}, f)
        built = q("build", "product.json", "-o", "Setup.exe").stdout
        assert "stub %s" % os.path.normpath(stub) in built, built
        assert "[ok  ] trusted keys: the stub's key block holds the key set keys" in q("verify", "Setup.exe", "--keys", "keys").stdout
        pinned = q("verify", "Setup.exe", "--keys", "other-keys", check=False)
        assert pinned.returncode == 1, pinned.stdout
        assert ("trusts another root key, executable signing key and descrambler table than the key set "
                "other-keys") in pinned.stdout, pinned.stdout
        report = os.path.join(work, "report.txt")
        r = run(args.wine_run, "--root", args.root, "--arch", args.arch, os.path.join(work, "Setup.exe"),
                env={"WINEDEBUG": "-all", "QX_PROBE_EXIT": "0", "QX_PROBE_REPORT": "Z:" + report.replace("/", "\\")})
        assert r.returncode == 0, r.stderr[-2000:]
        with open(report, encoding="utf-8") as f:
            files = {l.split("\t")[1]: int(l.split("\t")[2]) for l in f if l.startswith("file\t")}
        assert files.get("docs\\readme.txt") == 9, files
        print("package %s: extracted, keygen, build, verify, pinned refusal, installed under Wine: ok" % deb)
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
