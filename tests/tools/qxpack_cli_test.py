#!/usr/bin/env python3
"""qxpack as a release engineer uses it: key sets, certificates, inner bundles
written, listed and extracted byte-identically, installers built from a
product description, verified and unpacked offline, and refusals with a
reason."""
import argparse
import hashlib
import json
import os
import re
import shutil
import struct
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


def make_pe(payload=b""):
    """A minimal PE32 image with one section holding `payload`."""
    raw = payload + b"\0" * (-len(payload) % 0x200) or b"\0" * 0x200
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 224, 0x0102)
    opt = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 1, 0, len(raw), 0, 0, 0x1000, 0x1000, 0x1000,
                      0x400000, 0x1000, 0x200, 5, 1, 0, 0, 5, 1, 0, 0x1000 + len(raw), 0x200, 0, 2, 0,
                      0x100000, 0x1000, 0x100000, 0x1000, 0, 16) + b"\0" * 128
    sec = struct.pack("<8sIIIIIIHHI", b".text", len(raw), 0x1000, len(raw), 0x200, 0, 0, 0, 0, 0x60000020)
    head = b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x80) + b"\0" * 0x40 + b"PE\0\0" + coff + opt + sec
    return head + b"\0" * (0x200 - len(head)) + raw


KEY_BLOCK_MARKER = b"NorvaneKeyBlock1"


def key_block(keys):
    """The key block a stub built with `keys` carries: marker, format, sizes, the three halves, zeros."""
    halves = []
    for name in ("root.pub.der", "exe-signing.pub.der", "bundle-key.bin"):
        with open(os.path.join(keys, name), "rb") as f:
            halves.append(f.read())
    block = KEY_BLOCK_MARKER + struct.pack("<4I", 1, *map(len, halves)) + b"".join(halves)
    return block.ljust(6144, b"\0")


def stub_for(keys):
    """A stand-in stub: a PE whose image holds a key block, as a built stub does."""
    return make_pe(b"stub code".ljust(128, b"\0") + key_block(keys))


def chain(data, end):
    """Attachments of the chain ending at `end`, nearest the end first: (type, data offset, size)."""
    out = []
    t = end - 28
    while t >= 0 and data[t + 24:t + 28] == b"ABD2":
        size = struct.unpack_from("<I", data, t + 16)[0]
        out.append((data[t + 20:t + 24].decode("latin-1"), t - size, size))
        t -= size + 28
    return out


def section_end(data):
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    count, opt = struct.unpack_from("<HH", data, nt + 6)[0], struct.unpack_from("<H", data, nt + 20)[0]
    last = nt + 24 + opt + 40 * (count - 1)
    return sum(struct.unpack_from("<II", data, last + 16))


def plain(data, att):
    return bytes(b ^ 0xA7 for b in data[att[1]:att[1] + att[2]])


def rewrite(data, att, new_plain):
    """`data` with attachment `att` replaced by `new_plain` (same size), its digest recomputed."""
    assert len(new_plain) == att[2]
    start, end = att[1], att[1] + att[2]
    return data[:start] + bytes(b ^ 0xA7 for b in new_plain) + hashlib.md5(new_plain).digest() + data[end + 16:]


def flip(data, offset):
    return data[:offset] + bytes([data[offset] ^ 0x10]) + data[offset + 1:]


class InstallerTest(unittest.TestCase):
    """build, verify and unpack on a stand-in stub and setup program."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(dir=ARGS.work)
        cls.stub = cls.put("stub.exe", stub_for(ARGS.keys))
        cls.setup = cls.put("setup.exe", make_pe(b"setup program code" * 100))
        cls.files = {"readme": b"read me\r\n", "core32": os.urandom(70000), "core64": os.urandom(90000),
                     "legacy": b"legacy settings", "modern": b"modern settings"}
        for name, data in cls.files.items():
            cls.put(os.path.join("product", name + ".bin"), data)
        cls.other_keys = os.path.join(cls.dir, "other-keys")
        qxpack("keygen", cls.other_keys)
        # A key set whose halves outgrow the stub's key block (a larger table).
        cls.big_keys = os.path.join(cls.dir, "big-keys")
        shutil.copytree(ARGS.keys, cls.big_keys)
        cls.put(os.path.join("big-keys", "bundle-key.bin"), os.urandom(7000))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def put(cls, name, data):
        path = os.path.join(cls.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def description(self, name, **changes):
        entries = [("readme", "readme", "dep-gui-silent", "readme.txt"),
                   ("core32", "core32", "dep-x86-silent", "bin\\core.dll"),
                   ("core64", "core64", "dep-x64-silent", "bin\\core.dll"),
                   ("legacy", "legacy", "dep-w<6-silent", "config\\settings.ini"),
                   ("modern", "modern", "dep-w6+-silent", "config\\settings.ini")]
        d = {"stub": "stub.exe", "setup": "setup.exe", "type": "silent", "keys": ARGS.keys, "chunkSize": 32768,
             "files": [{"file": "product/%s.bin" % f, "record": r, "tag": t, "destination": dest}
                       for f, r, t, dest in entries]}
        d.update(changes)
        return self.put(name, json.dumps({k: v for k, v in d.items() if v is not None}).encode())

    def build(self, name, *extra, **changes):
        out = os.path.join(self.dir, name + ".exe")
        r = qxpack("build", self.description(name + ".json", **changes), "-o", out, *extra)
        return r, out

    def built(self, name, *extra, **changes):
        r, out = self.build(name, *extra, **changes)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def failing_step(self, installer, *options):
        r = qxpack("verify", installer, *options)
        self.assertNotEqual(r.returncode, 0, r.stdout)
        m = re.search(r"first failing step: (.*)$", r.stdout, re.M)
        return m.group(1) if m else r.stdout + r.stderr

    def unpacked(self, installer, *options):
        out = tempfile.mkdtemp(dir=self.dir)
        shutil.rmtree(out)
        r = qxpack("unpack", installer, out, *options)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        found = {}
        for base, _, names in os.walk(out):
            for n in names:
                with open(os.path.join(base, n), "rb") as f:
                    found[os.path.relpath(os.path.join(base, n), out)] = f.read()
        return found

    def test_built_installer_verifies_and_unpacks_per_system(self):
        exe = self.built("good", a404="product/readme.bin")
        report = qxpack("verify", exe)
        self.assertEqual(report.returncode, 0, report.stdout)
        for step in ("type", "installer signature", "LOAD", "IBND", "inner bundle", "install script",
                     "setup signature"):
            self.assertRegex(report.stdout, r"\[ok  \] %s: " % step)
        self.assertIn("verdict: a real run would start the setup program", report.stdout)
        cases = [(("--x86", "--windows-major", "5"), "core32", "legacy"),
                 (("--x86", "--windows-major", "6"), "core32", "modern"),
                 (("--x64", "--windows-major", "5"), "core64", "legacy"),
                 (("--x64", "--windows-major", "10"), "core64", "modern")]
        for options, core, settings in cases:
            with self.subTest(options):
                files = self.unpacked(exe, *options)
                self.assertEqual(files["readme.txt"], self.files["readme"])
                self.assertEqual(files["bin/core.dll"], self.files[core])
                self.assertEqual(files["config/settings.ini"], self.files[settings])
                self.assertEqual(files["qxav_404.dat"], self.files["readme"])
                self.assertEqual(set(files), {"setup.exe", "ibnd", "qxav_404.dat", "readme.txt", "bin/core.dll",
                                              "config/settings.ini"})

    def test_script_and_folder_form(self):
        script = self.put("form/script.txt", b"# comment\r\n  dep-silent,readme.bin,docs\\readme.txt  \r\n"
                                              b"dep-x64-silent,sub/core64.bin,core.dll\n")
        shutil.copytree(os.path.join(self.dir, "product"), os.path.join(self.dir, "form", "files", "sub"))
        shutil.copy(os.path.join(self.dir, "product", "readme.bin"), os.path.join(self.dir, "form", "files"))
        exe = self.built("form", files=None, script=script, folder="form/files")
        files = self.unpacked(exe)
        self.assertEqual(files["docs/readme.txt"], self.files["readme"])
        self.assertEqual(files["core.dll"], self.files["core64"])

    def test_build_refusals_leave_no_output(self):
        entry = {"file": "product/readme.bin", "record": "readme", "tag": "dep-silent", "destination": "r.txt"}
        cases = [
            ("missing_file", {"files": [dict(entry, file="product/absent.bin")]}, "file not found"),
            ("duplicate_record", {"files": [entry, dict(entry, file="product/core32.bin", destination="x")]},
             'record name "readme" is used for two files'),
            ("unknown_key", {"colour": "blue"}, 'unknown key "colour"'),
            ("unknown_entry_key", {"files": [dict(entry, mode=1)]}, 'unknown key "files[0].mode"'),
            ("bad_json_type", {"chunkSize": "big"}, 'key "chunkSize": must be a whole number, not string'),
            ("chunk_too_large", {"chunkSize": 0x1900001}, 'key "chunkSize": must be 1 to 26214400'),
            ("bad_run_type", {"type": "gui mode"}, 'key "type": must be one word'),
            ("missing_setup", {"setup": None}, 'key "setup": missing'),
            ("unsafe_destination", {"files": [dict(entry, destination="..\\evil.dll")]},
             'destination "..\\evil.dll" leaves the workspace'),
            ("drive_destination", {"files": [dict(entry, destination="C:\\evil.dll")]}, "leaves the workspace"),
            ("replaces_setup", {"files": [dict(entry, destination="SETUP.EXE")]}, "would replace the stub's own"),
            ("same_destination", {"files": [entry, dict(entry, record="r2", file="product/core32.bin")]},
             "is written by an earlier line too"),
            ("comma_in_field", {"files": [dict(entry, record="a,b")]}, 'key "files[0].record": must not contain'),
            ("setup_not_pe", {"setup": "product/readme.bin"}, "the setup program"),
            ("both_forms", {"script": "product/readme.bin", "folder": "product"}, "not both"),
            ("no_files", {"files": None}, 'key "files": missing'),
            ("long_line", {"files": [dict(entry, destination="d" * 2100)]}, "is longer than 2046 bytes"),
            ("half_authenticode", {"authenticode": {"certificate": "c.pem"}}, 'needs "certificate" with "key"'),
            ("stub_without_key_block", {"stub": "setup.exe"}, "no key block"),
            ("keys_beyond_key_block", {"keys": self.big_keys}, "does not fit the stub's key block"),
        ]
        for name, changes, message in cases:
            with self.subTest(name):
                r, _ = self.build(name, **changes)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(message, r.stderr)
                self.assertEqual([n for n in os.listdir(self.dir) if n.startswith(name + ".exe")], [])

    def low_level(self, name, script):
        """An installer made with the single-step commands, which check nothing about the script."""
        script_path = self.put(name + ".script", script)
        bundle, setup = os.path.join(self.dir, name + ".ibnd"), os.path.join(self.dir, name + "-setup.exe")
        self.ok("inner", "-o", bundle, "--keys", ARGS.keys, "--script", script_path,
                "readme=" + os.path.join(self.dir, "product", "readme.bin"))
        shutil.copy(self.setup, setup)
        self.ok("attach", setup, "IBND", bundle)
        self.ok("sign", setup, "--keys", ARGS.keys)
        out = os.path.join(self.dir, name + ".exe")
        self.ok("stub", "--stub", self.stub, "--setup", setup, "--type", "silent", "--keys", ARGS.keys,
                "-o", out)
        return out

    def ok(self, *args):
        r = qxpack(*args)
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_verify_names_the_failing_step(self):
        exe = self.built("base")
        with open(exe, "rb") as f:
            data = f.read()
        load = [a for a in chain(data, section_end(data)) if a[0] == "LOAD"][0]
        setup = plain(data, load)
        ibnd = [a for a in chain(setup, len(setup)) if a[0] == "IBND"][0]
        # A stub given the other key set, the installer then signed with this one.
        resigned = shutil.copy(self.built("other", keys=self.other_keys), os.path.join(self.dir, "resigned.exe"))
        self.ok("sign", resigned, "--keys", ARGS.keys)
        block = data.find(KEY_BLOCK_MARKER)
        cases = [
            ("installer_byte", flip(data, 0x240), "installer signature"),
            ("setup_byte", rewrite(data, load, flip(setup, 0x240)), "setup signature"),
            ("bundle_byte", rewrite(data, load, rewrite(setup, ibnd, flip(plain(setup, ibnd), ibnd[2] // 2))),
             "inner bundle"),
            ("load_digest", flip(data, load[1] + 100), "LOAD"),
            ("missing_record", self.low_level("missing", b"dep-silent,absent,a.txt\n"),
             "files for 32-bit Windows, version < 6"),
            ("leaves_workspace", self.low_level("leaves", b"dep-x64-silent,readme,..\\..\\a.txt\n"),
             "files for 64-bit Windows, version < 6"),
            ("signed_by_another_set", resigned, "installer signature"),
            ("key_block_key_byte", flip(data, block + 40), "installer signature"),
            ("key_block_format", flip(data, block + 16), "trusted keys"),
            ("no_type", make_pe(), "type"),
            ("other_goal", exe, "inner bundle"),
        ]
        for name, content, step in cases:
            with self.subTest(name):
                path = content if isinstance(content, str) else self.put(name + ".exe", content)
                self.assertEqual(self.failing_step(path, *(["--goal", "AVSG"] if name == "other_goal" else [])), step)
        self.assertEqual(qxpack("inspect", self.put("inspect.exe", flip(data, 0x240))).returncode, 1)

    def test_command_line_cases(self):
        exe, desc = self.built("cli"), os.path.join(self.dir, "cli.json")
        with open(os.path.join(ARGS.keys, "root.pub.der"), "rb") as f:
            root_fingerprint = "root key SHA-256 " + hashlib.sha256(f.read()).hexdigest()
        other = "trusts another root key, executable signing key and descrambler table than the key set"
        with open(exe, "rb") as f:
            data = f.read()
        damaged = self.put("cli-damaged.exe", flip(data, data.find(KEY_BLOCK_MARKER) + 16))
        cases = [
            # arguments, exit status, stream, text (a regular expression)
            (["--version"], 0, "stdout", r"^qxpack \d+\.\d+\.\d+(\+g[0-9a-f.a-z]+)?\n$"),
            (["help", "build"], 0, "stdout", r"^usage: qxpack build PRODUCT\.json"),
            (["verify", "--help"], 0, "stdout", r"^usage: qxpack verify INSTALLER \[--keys DIR\]"),
            (["--help"], 0, "stdout", r"qxpack help COMMAND"),
            ([], 2, "stderr", r"^usage: qxpack COMMAND"),
            (["frobnicate"], 2, "stderr", r'unknown command "frobnicate"'),
            (["--frobnicate"], 2, "stderr", r'unknown option "--frobnicate"'),
            (["help", "frobnicate"], 2, "stderr", r'unknown command "frobnicate"'),
            (["verify", exe, "--frob"], 2, "stderr", r"^qxpack verify: unknown option --frob\nusage: qxpack verify"),
            (["build", desc, "extra"], 2, "stderr", r"^qxpack build: unexpected argument extra"),
            (["build", desc, "-o"], 2, "stderr", r"^qxpack build: -o needs a value"),
            (["verify", exe, "--keys"], 2, "stderr", r"--keys needs a value"),
            (["unpack", exe], 2, "stderr", r"needs INSTALLER and DIR"),
            (["stub", "--stub"], 2, "stderr", r"--stub needs a value"),
            (["sign", exe, "--key", ARGS.keys], 2, "stderr", r"unknown option --key"),
            (["verify", exe], 0, "stdout", r"\[info\] trusted keys: the stub's key block\n +" + root_fingerprint),
            (["verify", exe, "--keys", ARGS.keys], 0, "stdout", r"\[ok  \] trusted keys: the stub's key block holds "),
            (["verify", exe, "--keys", self.other_keys], 1, "stdout", r"\[FAIL\] trusted keys: the stub " + other),
            (["inspect", exe, "--keys", self.other_keys], 1, "stdout", r"trusted keys: the stub " + other),
            (["inspect", exe], 0, "stdout", root_fingerprint + r"(.|\n)*signature: valid"),
            (["inspect", self.setup], 1, "stdout", r"no key block.*--keys DIR\nsignature: not checked"),
            (["inspect", damaged, "--keys", ARGS.keys], 1, "stdout", r"key block is damaged\nsignature: not checked"),
            (["unpack", exe, os.path.join(self.dir, "cli-out"), "--keys", self.other_keys], 1, "stderr",
             r'step "trusted keys"'),
            (["verify", os.path.join(self.dir, "absent.exe")], 1, "stderr", r"no such file"),
        ]
        for args, status, stream, text in cases:
            with self.subTest(" ".join(args)):
                r = qxpack(*args)
                self.assertEqual(r.returncode, status, r.stdout + r.stderr)
                self.assertRegex(getattr(r, stream), text)

    def test_what_a_run_survives_passes_with_a_note(self):
        exe = self.low_level("survives", b"dep-silent,readme\ndep-silent,readme,a.txt\ndep-silent,readme,A.TXT\n")
        r = qxpack("verify", exe)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("line 1: selected but has no record or destination; skipped", r.stdout)
        self.assertIn('warning: line 3: destination "A.TXT" is written by an earlier line too', r.stdout)
        self.assertEqual(r.stderr, "", "no progress when standard error is not a terminal")

    def test_unpack_refuses_and_writes_nothing(self):
        busy = os.path.join(self.dir, "busy")
        os.makedirs(busy, exist_ok=True)
        self.put("busy/keep.txt", b"x")
        self.assertIn("is not empty", qxpack("unpack", self.built("busy"), busy).stderr)
        exe = self.low_level("unsafe", b"dep-silent,readme,..\\escaped.txt\n")
        out = os.path.join(self.dir, "unsafe-out")
        r = qxpack("unpack", exe, out, "--x86")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn('"files for 32-bit Windows, version 10"', r.stderr)
        self.assertFalse(os.path.exists(out))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "escaped.txt")))

    def test_authenticode_signed_build_verifies(self):
        crt, key = os.path.join(self.dir, "ac.pem"), os.path.join(self.dir, "ac.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", crt,
                        "-days", "30", "-subj", "/CN=Norvane Test"], check=True, capture_output=True)
        exe = self.built("signed", "--authenticode-cert", crt, "--authenticode-key", key,
                         a404="product/legacy.bin")
        r = qxpack("verify", exe)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertRegex(r.stdout, r"Authenticode: signature present")
        self.assertIn("valid (header-range attempt)", r.stdout)
        self.assertEqual(self.unpacked(exe)["qxav_404.dat"], self.files["legacy"])


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for name in ("qxpack", "keys", "work"):
        p.add_argument("--" + name, required=True)
    ARGS, rest = p.parse_known_args()
    ARGS.keys = os.path.abspath(ARGS.keys)
    os.makedirs(ARGS.work, exist_ok=True)
    prog = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if prog.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
