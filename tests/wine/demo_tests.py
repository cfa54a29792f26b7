#!/usr/bin/env python3
"""The demo product end to end under Wine: `qxpack build demo/product.json`,
`qxpack verify`, and the installer run, whose setup program reports the files
of its workspace; `qxpack unpack` must give exactly those files. Also the
release path with an Authenticode signature (a self-signed test certificate)."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import wine_tests

ARGS = None


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class DemoTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=ARGS.work)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def qxpack(self, *args):
        r = subprocess.run([ARGS.qxpack] + list(args), capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, "qxpack %s: %s%s" % (args[0], r.stdout, r.stderr))
        return r.stdout

    def build(self, name, *extra):
        out = os.path.join(self.dir, name + ".exe")
        self.qxpack("build", ARGS.product, "--stub", ARGS.stub, "--setup", ARGS.setup, "-o", out, *extra)
        return out

    def run_installer(self, installer):
        """Runs it silently; returns the setup program's report as {workspace path: size}."""
        report = os.path.join(self.dir, "report.txt")
        r = subprocess.run([ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch, installer,
                            "--report", windows_path(report)], capture_output=True, timeout=300,
                           env=dict(os.environ, WINEDEBUG="-all"))
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        self.assertTrue(os.path.exists(report), "the setup program did not run")
        with open(report, encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.assertIn("argument 1: --report", lines)
        self.assertIn("argument 3: " + windows_path(installer), lines)
        files = {}
        for line in lines:
            if line.startswith("file: "):
                name, size = line[len("file: "):].rsplit("\t", 1)
                files[name] = int(size)
        return files

    def unpacked(self, installer):
        """What `qxpack unpack` writes for this Wine: 64-bit Windows for the x86_64
        stub (a 32-bit prefix is 32-bit Windows), Windows 10."""
        out = os.path.join(self.dir, "unpacked")
        self.qxpack("unpack", installer, out, "--x64" if ARGS.arch == "win64" else "--x86", "--windows-major", str(wine_tests.windows_major()))
        files = {}
        for base, _, names in os.walk(out):
            for n in names:
                path = os.path.join(base, n)
                files[os.path.relpath(path, out).replace("/", "\\")] = os.path.getsize(path)
        return files

    def test_unpack_gives_what_the_setup_program_finds(self):
        installer = self.build("demo")
        self.assertIn("verdict: a real run would start the setup program", self.qxpack("verify", installer))
        reported = self.run_installer(installer)
        self.assertIn("bin\\norvane-core.dll", reported)
        self.assertEqual(self.unpacked(installer), reported)

    def test_authenticode_signed_installer_verifies_and_runs(self):
        crt, key = os.path.join(self.dir, "cert.pem"), os.path.join(self.dir, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", crt,
                        "-days", "30", "-subj", "/CN=Norvane Test"], check=True, capture_output=True)
        installer = self.build("signed", "--authenticode-cert", crt, "--authenticode-key", key)
        report = self.qxpack("verify", installer)
        self.assertIn("Authenticode: signature present", report)
        self.assertIn("qxav_404.dat", self.run_installer(installer))


def setUpModule():
    if not os.path.exists(ARGS.qxpack):
        raise unittest.SkipTest("qxpack not built (%s)" % ARGS.qxpack)


def main():
    return wine_tests.suite_main(sys.modules[__name__], ("wine-run", "root", "arch", "stub", "setup", "qxpack",
                                                         "product", "work"))


if __name__ == "__main__":
    sys.exit(main())
