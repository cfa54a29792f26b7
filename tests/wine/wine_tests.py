#!/usr/bin/env python3
"""Runs the Windows programs under Wine: the trace switch through the registry,
and the stub's start-up (run modes, self-verification, exit codes) on
installers that qxpack builds. GUI cases run under Xvfb."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
SKIP = 77


def wine(*cmd, debug="-all", timeout=90, env_extra=None, display=True):
    env = dict(os.environ)
    env["WINEDEBUG"] = debug
    if display and XVFB.display:
        env["DISPLAY"] = XVFB.display
    else:
        env.pop("DISPLAY", None)
    if env_extra:
        env.update(env_extra)
    full = [ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch] + list(cmd)
    return subprocess.run(full, capture_output=True, timeout=timeout, env=env)


def debug_lines(stderr):
    """The OutputDebugStringA texts in Wine's debug output, unescaped."""
    out = []
    # Wine shortens long strings to a few hundred characters and marks them "...".
    for m in re.finditer(rb'warn:debugstr:OutputDebugStringA "(.*)"(?:\.\.\.)?\r?$', stderr, re.M):
        raw = m.group(1).decode("latin-1")
        out.append(raw.encode("latin-1").decode("unicode_escape"))
    return out


def reg_set(value_type, data):
    wine("reg", "add", r"HKLM\Software\Kestrowan", "/v", "QXSTR", "/t", value_type, "/d", data,
         "/f", "/reg:64", display=False)


def reg_clear():
    wine("reg", "delete", r"HKLM\Software\Kestrowan", "/v", "QXSTR", "/f", "/reg:64", display=False)


def trace_on():
    reg_set("REG_SZ", "!Tracelog!")


class Xvfb:
    display = None
    proc = None

    @classmethod
    def start(cls):
        if not shutil.which("Xvfb"):
            return
        for n in range(90, 110):
            if os.path.exists("/tmp/.X%d-lock" % n):
                continue
            cls.proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(1.0)
            if cls.proc.poll() is None:
                cls.display = ":%d" % n
                return

    @classmethod
    def stop(cls):
        if cls.proc:
            cls.proc.terminate()
            cls.proc.wait()


XVFB = Xvfb


class TraceSwitchTest(unittest.TestCase):
    """The trace switch: only REG_SZ "!Tracelog!" in the 64-bit view turns it on."""

    def run_probe(self, *args):
        r = wine(ARGS.probe, *args, debug="warn+debugstr", display=False)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        return debug_lines(r.stderr)

    def tearDown(self):
        reg_clear()

    def test_switch_on_prefixes_lines(self):
        trace_on()
        lines = self.run_probe("hello")
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r"^\[T [0-9a-f]{8}\] probe hello\n$")

    def test_long_message_is_cut(self):
        trace_on()
        lines = self.run_probe("len:5000")
        self.assertEqual(len(lines), 1)
        # Wine shows only the start of a long line; the cut itself is checked
        # by the unit tests on both targets. Here: the line arrives, prefixed.
        self.assertRegex(lines[0], r"^\[T [0-9a-f]{8}\] m{100}")

    def test_switch_off_cases(self):
        cases = [
            ("absent", None, None),
            ("expand_sz", "REG_EXPAND_SZ", "!Tracelog!"),
            ("other_case", "REG_SZ", "!TraceLog!"),
            ("trailing_blank", "REG_SZ", "!Tracelog! "),
            ("256_bytes", "REG_SZ", "!Tracelog!" + "x" * 117),  # 127 chars + NUL = 256 bytes
        ]
        for name, value_type, data in cases:
            with self.subTest(name):
                reg_clear()
                if value_type:
                    reg_set(value_type, data)
                self.assertEqual(self.run_probe("quiet"), [])


def bundle_section_offset(path):
    """PointerToRawData of the last section (the bundle section)."""
    import struct
    with open(path, "rb") as f:
        data = f.read(4096)
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    count, opt_size = struct.unpack_from("<H", data, nt + 6)[0], struct.unpack_from("<H", data, nt + 20)[0]
    last = nt + 24 + opt_size + 40 * (count - 1)
    assert data[last:last + 8].rstrip(b"\0") == b".QXBNDL"
    return struct.unpack_from("<I", data, last + 20)[0]


def qxpack(*args, check=True):
    r = subprocess.run([ARGS.qxpack] + list(args), capture_output=True, text=True)
    if check and r.returncode != 0:
        raise AssertionError("qxpack %s failed: %s" % (" ".join(args), r.stderr))
    return r


class StubTest(unittest.TestCase):
    """The stub's start-up: run mode, self-verification and exit codes."""

    @classmethod
    def setUpClass(cls):
        if not ARGS.qxpack or not os.path.exists(ARGS.qxpack):
            raise unittest.SkipTest("qxpack not built")
        cls.work = tempfile.mkdtemp(prefix="stub-", dir=ARGS.work)
        cls.setup = os.path.join(cls.work, "setup.bin")
        with open(cls.setup, "wb") as f:
            f.write(os.urandom(300000))
        cls.other_keys = os.path.join(cls.work, "other-keys")
        qxpack("keygen", cls.other_keys)

    def make(self, name, type_text, keys=None):
        out = os.path.join(self.work, name)
        qxpack("stub", "--stub", ARGS.stub, "--setup", self.setup, "--type", type_text,
               "--keys", keys or ARGS.keys, "-o", out)
        return out

    def run_stub(self, exe, debug="warn+debugstr", close_message_box=False):
        if not close_message_box:
            r = wine(exe, debug=debug)
            return r.returncode, debug_lines(r.stderr)
        env = dict(os.environ, WINEDEBUG=debug, DISPLAY=XVFB.display)
        p = subprocess.Popen([ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch, exe],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        closed = False
        deadline = time.time() + 60
        while time.time() < deadline and p.poll() is None:
            found = subprocess.run(["xdotool", "search", "--name", "^Error$"], capture_output=True,
                                   text=True, env=env)
            wins = found.stdout.split()
            if wins:
                time.sleep(0.5)
                for w in wins:
                    subprocess.run(["xdotool", "windowactivate", "--sync", w], env=env,
                                   capture_output=True)
                    subprocess.run(["xdotool", "key", "--window", w, "Return"], env=env,
                                   capture_output=True)
                closed = True
                try:
                    p.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    continue
                break
            time.sleep(0.5)
        if p.poll() is None:
            p.kill()
        out, err = p.communicate()
        return p.returncode, debug_lines(err), closed

    def setUp(self):
        trace_on()

    def tearDown(self):
        reg_clear()

    def test_bare_stub_exits_1_silently(self):
        code, lines = self.run_stub(ARGS.stub)
        self.assertEqual(code, 1)
        self.assertFalse(any("[INSTALLER]" in l for l in lines), lines)

    def test_valid_installer_exits_0_in_both_modes(self):
        for mode in ("silent", "gui"):
            with self.subTest(mode):
                exe = self.make("valid-%s.exe" % mode, mode)
                report = qxpack("inspect", exe).stdout
                for t in ("_SG1", "_SG2", "TYPE", "LOAD"):
                    self.assertIn(t, report)
                self.assertIn("signature: valid", report)
                code, lines = self.run_stub(exe)
                self.assertEqual(code, 0, lines)
                text = "".join(lines)
                self.assertIn("[INSTALLER] Type is %s\n" % mode, text)
                self.assertNotIn("Signature not valid", text)
                if mode == "gui":
                    self.assertRegex(text, r"\[INSTALLER\] dlg is (0x)?0*[1-9a-fA-F][0-9a-fA-F]*, le")
                    self.assertRegex(text, r"\[INSTALLER\] hwndProgress is (0x)?0*[1-9a-fA-F]")

    def test_foreign_signature_exits_2(self):
        exe = self.make("foreign-silent.exe", "silent", keys=self.other_keys)
        code, lines = self.run_stub(exe)
        self.assertEqual(code, 2)
        self.assertIn("[INSTALLER] installer file is not valid!", "".join(lines))

    def test_foreign_signature_gui_shows_message_box(self):
        if not XVFB.display or not shutil.which("xdotool"):
            self.skipTest("no Xvfb/xdotool")
        exe = self.make("foreign-gui.exe", "gui", keys=self.other_keys)
        code, lines, closed = self.run_stub(exe, close_message_box=True)
        self.assertTrue(closed, "message box 'Error' never appeared")
        self.assertEqual(code, 2)

    def test_authenticode_signed_installer_still_verifies(self):
        exe = self.make("to-sign.exe", "silent")
        signed = self.authenticode(exe)
        code, lines = self.run_stub(signed)
        self.assertEqual(code, 0, lines)
        self.assertNotIn("Signature not valid", "".join(lines))
        report = qxpack("inspect", signed).stdout
        self.assertIn("header-range", report)
        # An attachment after the certificate table is found by the readers.
        data = os.path.join(self.work, "a404.bin")
        with open(data, "wb") as f:
            f.write(b"appended after the certificate")
        qxpack("attach", signed, "A404", data)
        self.assertIn("A404", qxpack("inspect", signed).stdout)
        code, lines = self.run_stub(signed)
        self.assertEqual(code, 0, lines)

    def test_changed_byte_before_record_exits_2_with_one_trace(self):
        exe = self.make("tamper.exe", "silent")
        # A byte the stub never executes or reads, but that the signature
        # covers: the first data byte of the bundle section ("_SG1").
        offset = bundle_section_offset(exe)
        with open(exe, "r+b") as f:
            f.seek(offset)
            b = f.read(1)
            f.seek(offset)
            f.write(bytes([b[0] ^ 0x01]))
        report = qxpack("inspect", exe, check=False)
        self.assertIn("signature: invalid", report.stdout)
        self.assertEqual(report.returncode, 1)
        code, lines = self.run_stub(exe)
        self.assertEqual(code, 2)
        invalid = [l for l in lines if "Signature not valid: " in l]
        self.assertEqual(len(invalid), 1, lines)
        self.assertRegex(invalid[0], r"^\[T [0-9a-f]{8}\] Signature not valid: "
                                     r"VerifierFilter: digital signature not valid\n$")

    def authenticode(self, exe):
        crt = os.path.join(self.work, "cert.pem")
        key = os.path.join(self.work, "key.pem")
        if not os.path.exists(crt):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                            "-out", crt, "-days", "30", "-subj", "/CN=Norvane Test"],
                           check=True, capture_output=True)
        out = exe.replace(".exe", "-signed.exe")
        if os.path.exists(out):
            os.remove(out)
        subprocess.run(["osslsigncode", "sign", "-certs", crt, "-key", key, "-in", exe, "-out", out],
                       check=True, capture_output=True)
        return out


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for name in ("wine-run", "root", "arch", "stub", "probe", "qxpack", "keys", "work"):
        p.add_argument("--" + name, default="")
    ARGS, rest = p.parse_known_args()
    probe = subprocess.run([ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch, "cmd", "/c", "exit", "0"],
                           capture_output=True)
    if probe.returncode == SKIP:
        print(probe.stderr.decode(errors="replace").strip())
        return SKIP
    os.makedirs(ARGS.work, exist_ok=True)
    Xvfb.start()
    try:
        prog = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    finally:
        Xvfb.stop()
    return 0 if prog.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
