#!/usr/bin/env python3
"""qxpack as a release engineer uses it: key sets, certificates, inner bundles
written, listed and extracted byte-identically, and refusals with a reason."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def qxpack(*args):
    return subprocess.run([ARGS.qxpack] + [str(a) for a in args], capture_output=True, text=True)


class QxpackTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=ARGS.work)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def ok(self, *args):
        r = qxpack(*args)
        self.assertEqual(r.returncode, 0, "qxpack %s: %s" % (" ".join(map(str, args)), r.stderr))
        return r.stdout

    def listing(self, bundle, *extra):
        rows = {}
        for line in self.ok("list", bundle, *extra).splitlines()[1:]:
            name, size, chunks = line.split()
            rows[name] = (int(size), int(chunks))
        return rows

    def test_keygen_writes_a_complete_key_set(self):
        keys = self.path("keys")
        self.ok("keygen", keys)
        sizes = {n: os.path.getsize(os.path.join(keys, n)) for n in os.listdir(keys)}
        self.assertEqual(sizes["root.pub.der"], 294)
        self.assertEqual(sizes["exe-signing.pub.der"], 548)
        self.assertEqual(sizes["bundle-key.bin"], 5000)
        for name in ("root.key.der", "exe-signing.key.der", "bundle-signing.key.der", "bundle-signing.cert"):
            self.assertIn(name, sizes)
        self.assertNotEqual(qxpack("keygen", keys).returncode, 0, "an existing key set is never overwritten")

    def test_inner_bundle_round_trips(self):
        files = {
            "empty": b"",
            "one_byte": b"x",
            "many_chunks": os.urandom(300000),
            "compressible": b"norvane " * 50000,
        }
        script = self.write("script.txt", b"line one\r\nline two\n")
        records = ["%s=%s" % (n, self.write(n + ".bin", d)) for n, d in files.items()]
        bundle = self.path("b.ibnd")
        self.ok("inner", "-o", bundle, "--keys", ARGS.keys, "--script", script, "--chunk-size", 4096, *records)
        rows = self.listing(bundle)
        self.assertEqual(rows["install_script"][0], 19)
        self.assertEqual(rows["empty"], (0, 0))
        self.assertEqual(rows["many_chunks"], (300000, (300000 + 4095) // 4096))
        for name, data in files.items():
            out = self.path(name + ".out")
            self.ok("extract", bundle, name, out)
            with open(out, "rb") as f:
                self.assertEqual(f.read(), data, name)

    def test_largest_chunk_size(self):
        data = os.urandom(25 * 1024 * 1024 + 1000)
        big = self.write("big.bin", data)
        script = self.write("script.txt", b"x\n")
        bundle = self.path("big.ibnd")
        self.ok("inner", "-o", bundle, "--keys", ARGS.keys, "--script", script,
                "--chunk-size", 25 * 1024 * 1024, "big=" + big)
        self.assertEqual(self.listing(bundle)["big"], (len(data), 2))
        out = self.path("big.out")
        self.ok("extract", bundle, "big", out)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertNotEqual(qxpack("inner", "-o", self.path("x.ibnd"), "--keys", ARGS.keys, "--script", script,
                                   "--chunk-size", 25 * 1024 * 1024 + 1, "big=" + big).returncode, 0)

    def test_record_count_limit(self):
        script = self.write("script.txt", b"x\n")
        records = ["r%03d=%s" % (i, self.write("r%03d" % i, bytes([i % 256]))) for i in range(256)]
        ok = self.path("255.ibnd")
        self.ok("inner", "-o", ok, "--keys", ARGS.keys, "--script", script, *records[:255])
        self.assertEqual(len(self.listing(ok)), 256)
        r = qxpack("inner", "-o", self.path("257.ibnd"), "--keys", ARGS.keys, "--script", script, *records)
        self.assertNotEqual(r.returncode, 0)
        self.assertFalse(os.path.exists(self.path("257.ibnd")))

    def test_tampered_bundle_is_refused_with_a_reason(self):
        script = self.write("script.txt", b"x\n")
        data = self.write("d.bin", os.urandom(10000))
        bundle = self.path("t.ibnd")
        self.ok("inner", "-o", bundle, "--keys", ARGS.keys, "--script", script, "d=" + data)
        with open(bundle, "r+b") as f:
            f.seek(200)
            b = f.read(1)
            f.seek(200)
            f.write(bytes([b[0] ^ 0x10]))
        r = qxpack("list", bundle)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("Invalid SHA1 encountered!", r.stderr)
        self.assertNotEqual(qxpack("extract", bundle, "d", self.path("d.out")).returncode, 0)
        self.assertFalse(os.path.exists(self.path("d.out")))

    def test_certificate_goal_is_enforced(self):
        keys = self.path("keys")
        shutil.copytree(ARGS.keys, keys)
        self.ok("cert", "--root", os.path.join(keys, "root.key.der"), "--key",
                os.path.join(keys, "bundle-signing.pub.der"), "--goal", "AVSG", "--expires", "2030-01-01",
                "-o", os.path.join(keys, "bundle-signing.cert"))
        script = self.write("script.txt", b"x\n")
        bundle = self.path("avsg.ibnd")
        self.ok("inner", "-o", bundle, "--keys", keys, "--script", script)
        r = qxpack("list", bundle)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("Public key goal is AVSG, should be IBND", r.stderr)
        self.assertIn("install_script", self.ok("list", bundle, "--goal", "AVSG"))


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for name in ("qxpack", "keys", "work"):
        p.add_argument("--" + name, required=True)
    ARGS, rest = p.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    prog = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if prog.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
