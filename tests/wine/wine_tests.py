#!/usr/bin/env python3
"""Runs the Windows programs under Wine: the trace switch through the registry,
and the stub's start-up (run modes, self-verification, exit codes) on
installers that qxpack builds. GUI cases run under Xvfb."""
import argparse
import contextlib
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


def log_config_set(value):
    """The log writer's configuration, the JSON text of the value "qxdbg"."""
    import json
    wine("reg", "add", r"HKLM\SOFTWARE\Kestrowan", "/v", "qxdbg", "/d", json.dumps(value), "/f", "/reg:64",
         display=False)


def log_config_clear():
    wine("reg", "delete", r"HKLM\SOFTWARE\Kestrowan", "/v", "qxdbg", "/f", "/reg:64", display=False)


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


def run_closing_error_box(exe, debug="warn+debugstr", env_extra=None):
    """Runs under Xvfb, presses Return on a window titled "Error" when one
    appears; returns (exit code, trace lines, whether a box was closed)."""
    env = dict(os.environ, WINEDEBUG=debug, DISPLAY=XVFB.display)
    env.update(env_extra or {})
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
                subprocess.run(["xdotool", "windowactivate", "--sync", w], env=env, capture_output=True)
                subprocess.run(["xdotool", "key", "--window", w, "Return"], env=env, capture_output=True)
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

    def make(self, name, type_text, signed_by=None):
        """An installer whose stub trusts the test key set; `signed_by` another set signs it over."""
        out = os.path.join(self.work, name)
        qxpack("stub", "--stub", ARGS.stub, "--setup", self.setup, "--type", type_text,
               "--keys", ARGS.keys, "-o", out)
        if signed_by:
            qxpack("sign", out, "--keys", signed_by)
        return out

    def run_stub(self, exe, debug="warn+debugstr", close_message_box=False):
        if not close_message_box:
            r = wine(exe, debug=debug)
            return r.returncode, debug_lines(r.stderr)
        return run_closing_error_box(exe, debug)

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
        exe = self.make("foreign-silent.exe", "silent", signed_by=self.other_keys)
        code, lines = self.run_stub(exe)
        self.assertEqual(code, 2)
        self.assertIn("[INSTALLER] installer file is not valid!", "".join(lines))

    def test_foreign_signature_gui_shows_message_box(self):
        if not XVFB.display or not shutil.which("xdotool"):
            self.skipTest("no Xvfb/xdotool")
        exe = self.make("foreign-gui.exe", "gui", signed_by=self.other_keys)
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

    def test_changed_key_block_exits_2(self):
        # A byte of the root key: the self-check never uses that key, but the
        # signature covers the block it is in.
        exe = self.make("key-block.exe", "silent")
        with open(exe, "r+b") as f:
            offset = f.read().index(b"NorvaneKeyBlock1") + 40
            f.seek(offset)
            b = f.read(1)
            f.seek(offset)
            f.write(bytes([b[0] ^ 0x01]))
        code, lines = self.run_stub(exe)
        self.assertEqual(code, 2, lines)
        self.assertIn("[INSTALLER] installer file is not valid!", "".join(lines))

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


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix_dir():
    """The prefix of this configuration, named as wine-run.sh names it."""
    name = "prefix-" + ARGS.arch + ("" if ARGS.winver == "win10" else "-" + ARGS.winver)
    return os.environ.get("QX_WINEPREFIX") or os.path.join(ARGS.root, name)


# The temporary directory of a stub started as SYSTEM, as Windows names it and
# in both of the prefix's system directories.
SYSTEM_TEMP = r"C:\windows\system32\config\systemprofile\AppData\Local\Temp"


def system_temp_dirs():
    tail = os.path.join("config", "systemprofile", "AppData", "Local", "Temp")
    windows = os.path.join(prefix_dir(), "drive_c", "windows")
    return [os.path.join(windows, d, tail) for d in ("system32", "syswow64")
            if os.path.isdir(os.path.join(windows, d))]


def prefix_temp_dirs():
    """Every temporary directory of the prefix's users (where workspaces go)."""
    import glob
    users = os.path.join(prefix_dir(), "drive_c", "users")
    return [d for d in glob.glob(os.path.join(users, "*", "Temp")) + glob.glob(
        os.path.join(users, "*", "AppData", "Local", "Temp")) + system_temp_dirs() if os.path.isdir(d)]


def pe_bits(path):
    """32 or 64, from the PE file's machine field."""
    import struct
    with open(path, "rb") as f:
        data = f.read(4096)
    machine = struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)[0]
    return 64 if machine == 0x8664 else 32


def windows_is_64bit():
    return ARGS.arch == "win64"


def windows_major():
    return 5 if ARGS.winver.startswith("winxp") else 10


def can_run_32bit():
    return subprocess.run(["/lib/ld-linux.so.2", "--version"], capture_output=True).returncode == 0 \
        and os.access("/usr/lib/wine/wine", os.X_OK)


def leftover_workspaces():
    import glob
    return [w for d in prefix_temp_dirs() for w in glob.glob(os.path.join(d, "ITMPD_*"))]


class InstallerRuns(unittest.TestCase):
    """Builds installers around a stand-in setup program, which reports what it
    received, and runs them; every run must leave no workspace behind."""

    @classmethod
    def setUpClass(cls):
        if not ARGS.qxpack or not os.path.exists(ARGS.qxpack) or not ARGS.setup_probe:
            raise unittest.SkipTest("qxpack or setup probe not built")
        cls.work = tempfile.mkdtemp(prefix="install-", dir=ARGS.work)
        # What an earlier, interrupted or failed run left would fail every test here.
        for path in leftover_workspaces():
            print("removing a workspace an earlier run left: %s" % path, file=sys.stderr)
            shutil.rmtree(path, ignore_errors=True)

    def setUp(self):
        trace_on()
        self.dir = tempfile.mkdtemp(dir=self.work)

    def tearDown(self):
        reg_clear()
        self.assertEqual(leftover_workspaces(), [], "a workspace remains")

    def build(self, script, files, type_text="silent", a404=None, tamper_setup=False,
              tamper_inner=False, setup=None):
        d = self.dir
        with open(os.path.join(d, "script.txt"), "wb") as f:
            f.write(script.encode("utf-8"))
        pairs = []
        for name, data in files.items():
            path = os.path.join(d, "rec-" + name)
            with open(path, "wb") as f:
                f.write(data)
            pairs.append("%s=%s" % (name, path))
        ibnd = os.path.join(d, "ibnd")
        qxpack("inner", "-o", ibnd, "--keys", ARGS.keys, "--script", os.path.join(d, "script.txt"), *pairs)
        if tamper_inner:
            flip(ibnd, os.path.getsize(ibnd) // 2)
        setup_exe = os.path.join(d, "setup.exe")
        shutil.copy(setup or ARGS.setup_probe, setup_exe)
        qxpack("attach", setup_exe, "IBND", ibnd)
        qxpack("sign", setup_exe, "--keys", ARGS.keys)
        if tamper_setup:
            flip(setup_exe, 0x60)  # DOS stub text: signed, never executed
        out = os.path.join(d, "installer.exe")
        qxpack("stub", "--stub", ARGS.stub, "--setup", setup_exe, "--type", type_text, "--keys", ARGS.keys,
               "-o", out)
        if a404 is not None:
            path = os.path.join(d, "a404.bin")
            with open(path, "wb") as f:
                f.write(a404)
            qxpack("attach", out, "A404", path)
        return out

    def run_installer(self, exe, *args, exit_code=0, extra=None, debug="warn+debugstr"):
        report = os.path.join(self.dir, "report.txt")
        if os.path.exists(report):
            os.remove(report)
        env = {"QX_PROBE_REPORT": win_path(report), "QX_PROBE_EXIT": str(exit_code)}
        env.update(extra or {})
        r = wine(exe, *args, debug=debug, env_extra=env, timeout=300)
        self.stderr = r.stderr
        parsed = None
        if os.path.exists(report):
            parsed = {"args": [], "files": {}}
            with open(report, encoding="utf-8") as f:
                for line in f.read().splitlines():
                    key, _, rest = line.partition("\t")
                    if key == "arg":
                        parsed["args"].append(bytes.fromhex(rest).decode("utf-8"))
                    elif key == "file":
                        name, size, digest = rest.split("\t")
                        parsed["files"][name] = digest
                    else:
                        parsed[key] = rest
        return r.returncode, "".join(debug_lines(r.stderr)), parsed



class InstallTest(InstallerRuns):
    """Whole installations: what arrives, what is refused, what stays behind."""

    def test_arguments_arrive_exactly(self):
        exe = self.build("", {})
        for args in ([], ["plain", "with space", "with\ttab", 'with"quote', "trailing\\", "", "last"]):
            with self.subTest(args=args):
                code, trace, report = self.run_installer(exe, *args)
                self.assertEqual(code, 0, trace)
                own = win_path(exe)
                got = report["args"]
                self.assertTrue(got[0].endswith("\\setup.exe"), got)
                self.assertEqual(got[0], report["cwd"] + "\\setup.exe")
                self.assertEqual(got[-1].lower(), own.lower())
                expected = args if args else [got[-1]]  # no tail: the stub's own path, twice
                self.assertEqual(got[1:-1], expected)
        # An own path longer than the stub's first buffer (1024 characters) arrives whole.
        deep = os.path.join(self.dir, *["d" * 200] * 6, "installer.exe")
        os.makedirs(os.path.dirname(deep))
        shutil.copy(exe, deep)
        code, trace, report = self.run_installer(deep)
        self.assertEqual(code, 0, trace)
        self.assertEqual(report["args"][-1].lower(), win_path(deep).lower(), trace)

    def test_a404_and_exit_codes(self):
        import hashlib
        extra = os.urandom(5000)
        exe = self.build("", {}, a404=extra)
        for setup_code in (0, 7):
            code, trace, report = self.run_installer(exe, exit_code=setup_code)
            self.assertEqual(code, 0, trace)
            self.assertEqual(report["files"]["qxav_404.dat"], hashlib.sha256(extra).hexdigest())

    def test_workspace_is_protected_and_removed_with_read_only_leftovers(self):
        code, trace, report = self.run_installer(self.build("", {}), extra={"QX_PROBE_READONLY": "1"})
        self.assertEqual(code, 0, trace)
        # Wine 8 keeps a directory's access list as Unix mode bits and reads
        # back SYSTEM plus the Unix owner's SID; what it can show is that
        # nobody else (no Everyone entry, as a plain directory has) gets in.
        # The exact protected descriptor is unit-tested.
        sddl = report["sddl"]
        trustees = set(re.findall(r"\(A;[A-Z]*;[^;]*;;;([^)]+)\)", sddl))
        self.assertEqual(len(re.findall(r"\(", sddl)), len(trustees), sddl)
        self.assertNotIn("WD", trustees, sddl)
        self.assertLessEqual(len(trustees - {"SY", "BA"}), 1, sddl)
        self.assertRegex(report["cwd"], r"\\ITMPD_\d+_\d+_\d+$")
        self.assertIn("Delete File", trace)

    def test_refused_installers_never_start_setup(self):
        good = {"f": b"payload"}
        cases = [
            ("tampered setup", dict(script="dep-silent,f,f.bin", files=good, tamper_setup=True),
             "installer file is not valid!"),
            ("tampered inner bundle", dict(script="dep-silent,f,f.bin", files=good, tamper_inner=True), ""),
            ("missing record", dict(script="dep-silent,nothere,f.bin", files=good), ""),
            ("escaping destination", dict(script="dep-silent,f,..\\escape.bin", files=good),
             "leaves the workspace, refused"),
            ("absolute destination", dict(script="dep-silent,f,C:\\escape.bin", files=good),
             "leaves the workspace, refused"),
            ("no temporary directory", dict(script="", files={}), "workspace not created under "),
            ("full disk", dict(script="", files={}), "write fail"),
            # A large record keeps the stub busy between its reads of setup.exe.
            ("locked setup.exe", dict(script="dep-silent,f,f.bin", files={"f": os.urandom(4 << 20)}),
             "setup.exe cannot be opened, le 32"),
        ]
        for name, build_args, needle in cases:
            with self.subTest(name):
                exe = self.build(**build_args)
                if name == "no temporary directory":
                    with temp_directory_moved_to("Z:\\nonexistent\\tmp"):
                        code, trace, report = self.run_installer(exe)
                elif name == "full disk":
                    tiny = os.path.join(self.dir, "tiny")
                    os.makedirs(tiny)
                    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", tiny],
                                      capture_output=True).returncode != 0:
                        continue  # mounting needs root
                    try:
                        with temp_directory_moved_to(win_path(tiny)):
                            code, trace, report = self.run_installer(exe)
                        self.assertEqual([n for n in os.listdir(tiny) if n.startswith("ITMPD_")], [])
                    finally:
                        subprocess.run(["umount", tiny])
                elif name == "locked setup.exe":
                    locker = subprocess.Popen([ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch,
                                               ARGS.setup_locker], stdout=subprocess.PIPE,
                                              env=dict(os.environ, WINEDEBUG="-all"))
                    try:
                        self.assertEqual(locker.stdout.readline().strip(), b"ready")
                        code, trace, report = self.run_installer(exe)
                        self.assertEqual(locker.communicate(timeout=60)[0].split(), [b"locked", b"released"])
                    finally:
                        locker.kill()
                else:
                    code, trace, report = self.run_installer(exe)
                self.assertEqual(code, 0, trace)
                self.assertIsNone(report, "setup started")
                self.assertIn(needle, trace)
                self.assertIn("Begin cleanup of 0 files", trace)
                for temp in prefix_temp_dirs():
                    self.assertFalse(os.path.exists(os.path.join(temp, "escape.bin")))
                self.assertEqual(leftover_workspaces(), [])

    def test_every_failing_platform_call_is_handled(self):
        files = {"a": os.urandom(1300000), "b": b"small"}
        exe = self.build("dep-silent,a,bin\\a.bin\ndep-silent,b,b.bin", files, a404=b"extra")
        r = wine(ARGS.fault_runner, exe, win_path(os.path.join(self.dir, "report.txt")), timeout=900,
                 display=False)
        out = r.stdout.decode(errors="replace")
        self.assertEqual(r.returncode, 0, out[-3000:])
        self.assertRegex(out, r"clean run: result 0, \d+ calls, 4 files")

    def test_tamper_sweep_refuses_every_flip(self):
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
        import tamper_sweep
        exe = self.build("dep-silent,f,f.bin", {"f": os.urandom(200000)})
        results = tamper_sweep.sweep(ARGS.qxpack, exe, 25, self.dir)
        for name, (refused, total) in results.items():
            self.assertEqual(refused, total, name)
        # A few flips outside the stub's own code, run by the real stub.
        inst = tamper_sweep.Installer(exe)
        sg1 = inst.stub_chain["_SG1"]
        sample = [("stub", sg1[1] + sg1[2] // 2)]
        for name, positions in inst.regions(2).items():
            if name != "stub image and _SG1":
                sample += positions
        for where, pos in sample:
            with self.subTest(where=where, pos=pos):
                flipped = os.path.join(self.dir, "flipped.exe")
                with open(flipped, "wb") as f:
                    f.write(inst.flipped(where, pos))
                code, trace, report = self.run_installer(flipped)
                self.assertIsNone(report, "setup started")
                self.assertEqual(leftover_workspaces(), [])

    def test_gui_progress_and_hidden_dialog(self):
        if not XVFB.display:
            self.skipTest("no Xvfb")
        big = {"big%d" % i: os.urandom(3 << 20) for i in range(3)}
        script = "\n".join("dep-gui,%s,%s.bin" % (n, n) for n in big)
        code, trace, report = self.run_installer(self.build(script, big, type_text="gui"),
                                                 debug="warn+debugstr,trace+loaddll")
        self.assertEqual(code, 0, trace)
        # Every DLL of the run (the stub's, its dialog's, the setup program's)
        # comes from the system's folders, none from the installer's.
        loaded = re.findall(rb'trace:loaddll:\w+ Loaded L"([^"]+)"', self.stderr)
        self.assertTrue(any(p.lower().endswith(b"comctl32.dll") for p in loaded), loaded)
        for path in loaded:
            name = path.decode("latin-1").replace("\\\\", "\\").lower()
            if not name.endswith((".exe", ".exe.so")):
                self.assertTrue(name.startswith("c:\\windows\\"), name)
        self.assertRegex(trace, r"\[INSTALLER\] dlg is (0x)?0*[1-9a-fA-F]")
        values = [int(v) for v in re.findall(r"Progress (-?\d+)%", trace)]
        load = [v for v in values if v < 50]
        self.assertTrue(load and values[:len(load)] == load, values)
        rest = values[len(load):]
        inner = [v for v in rest if 50 <= v < 75]
        self.assertTrue(inner and rest[:len(inner)] == inner, values)
        script_part = rest[len(inner):]
        self.assertEqual(script_part[0], 85)
        self.assertEqual(script_part, sorted(script_part))
        self.assertTrue(all(85 <= v <= 99 for v in script_part), values)
        self.assertEqual(report["parentwindows"], "0", "the dialog is still visible while setup runs")
        if shutil.which("xdotool"):
            exe = self.build("", {}, type_text="gui", tamper_setup=True)
            report = os.path.join(self.dir, "report.txt")
            os.remove(report)
            code, lines, closed = run_closing_error_box(exe, env_extra={"QX_PROBE_REPORT": win_path(report)})
            self.assertTrue(closed, "no 'Installer file is corrupted.' box")
            self.assertEqual(code, 0)
            self.assertFalse(os.path.exists(report), "setup started")


def subsystem_copy(setup, subsystem, work):
    """A copy of `setup` marked for another subsystem (3: console)."""
    import struct
    path = os.path.join(work, "subsystem-%d.exe" % subsystem)
    with open(setup, "rb") as f:
        data = bytearray(f.read())
    struct.pack_into("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 24 + 68, subsystem)
    with open(path, "wb") as f:
        f.write(data)
    return path


def foreign_machine_setup(setup, work):
    """A copy of `setup` made for a processor no Windows here runs (IA-64)."""
    import struct
    path = os.path.join(work, "foreign-machine.exe")
    with open(setup, "rb") as f:
        data = bytearray(f.read())
    struct.pack_into("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4, 0x0200)
    with open(path, "wb") as f:
        f.write(data)
    return path


class WindowsSystemTest(InstallerRuns):
    """What depends on the system's bitness and version, in every configuration:
    the script's selection, a setup program of either bitness, the temporary
    directory of a run as SYSTEM (redirected under WoW64), a failed start."""

    FILES = {n: bytes([i]) * (1000 + 97 * i) for i, n in enumerate(
        ["all", "x64", "x86", "w6", "w5", "gui", "plain", "extra", "sub", "nodep", "caps"])}
    SCRIPT = "\n".join([
        "# a comment", "", "   # an indented comment", "\t  dep-silent,all,all.bin  \r",
        "dep-x64-silent,x64,bin\\x64.dll", "dep-x86-silent,x86,bin\\x86.dll",
        "dep-w6+-silent,w6,w6.bin", "dep-w<6-silent,w5,w5.bin", "dep-gui,gui,gui.bin",
        "dep-gui-silent,plain,plain.bin", "dep-silent,extra,extra.bin,ignored,fields",
        "dep-silent,sub,a\\b\\c\\deep.bin", "file-silent,nodep,nodep.bin", "DEP-silent,caps,caps.bin",
        "dep-silent,all"])

    def expected_files(self):
        import hashlib
        want = {"all.bin": "all", "plain.bin": "plain", "extra.bin": "extra", "a\\b\\c\\deep.bin": "sub"}
        want.update({"bin\\x64.dll": "x64"} if windows_is_64bit() else {"bin\\x86.dll": "x86"})
        want.update({"w6.bin": "w6"} if windows_major() >= 6 else {"w5.bin": "w5"})
        return {k: hashlib.sha256(self.FILES[v]).hexdigest() for k, v in want.items()}

    def test_one_table_of_system_cases(self):
        for d in system_temp_dirs():
            os.makedirs(d, exist_ok=True)
        own, other = ARGS.setup_probe, ARGS.other_setup_probe
        # 32-bit Windows cannot start a 64-bit setup program: the stub must say so.
        other_here = other and os.path.exists(other) and (pe_bits(other) == 64 or can_run_32bit())
        other_starts = "installs" if not other_here or pe_bits(other) == 32 or windows_is_64bit() \
            else "CreateProcessW failed, le "
        # On 64-bit Windows 32- and 64-bit programs see different folders under
        # System32: the workspace is named through SysWOW64, where every process finds it.
        system_view = "syswow64" if windows_is_64bit() else "system32"
        cases = [
            # name, temporary directory (None: the user's), setup program, expected
            ("selection", None, own, "installs"),
            ("SYSTEM's temp", SYSTEM_TEMP, own, "installs"),
            ("other-bitness setup", None, other, other_starts),
            ("other-bitness setup, SYSTEM's temp", SYSTEM_TEMP, other, other_starts),
            ("setup for another processor", None, foreign_machine_setup(own, self.work),
             "CreateProcessW failed, le "),
        ]
        for name, temp, setup, expected in cases:
            with self.subTest(name):
                if setup == other and not other_here:
                    self.skipTest("no setup program of the other bitness that runs here: %s" % other)
                exe = self.build(self.SCRIPT, self.FILES, setup=setup)
                with (temp_directory_moved_to(temp) if temp else contextlib.nullcontext()):
                    code, trace, report = self.run_installer(exe)
                self.assertEqual(code, 0, trace)
                self.assertEqual(leftover_workspaces(), [], "a workspace remains")
                if expected != "installs":
                    self.assertIsNone(report, "setup started")
                    self.assertIn(expected, trace)
                    continue
                self.assertIsNotNone(report, trace)
                self.assertEqual(report["bits"], str(pe_bits(setup)))
                got = {k: v for k, v in report["files"].items() if k not in ("setup.exe", "ibnd")}
                self.assertEqual(got, self.expected_files(), trace)
                self.assertIn("names no record or destination, skipped", trace)
                if temp:
                    self.assertIn("\\%s\\config\\" % system_view, report["cwd"].lower(), trace)


    def test_one_table_of_clean_up_cases(self):
        """Whatever the setup program leaves running, the workspace goes: at
        once, after a short wait, or at the next restart. Wine "restarts" (runs
        wineboot, which carries out the pending deletions) whenever a new
        session starts, so the run's session is kept until `wineboot -r`."""
        marker = os.path.join(self.work, "lingered")
        cases = [
            # name, runs, setup program, probe settings, removal
            ("console setup", 10, subsystem_copy(ARGS.setup_probe, 3, self.work), {}, "at once"),
            ("setup leaves a process in the workspace", 1, ARGS.setup_probe,
             {"QX_PROBE_LINGER": win_path(marker)}, "at restart"),
        ]
        for name, runs, setup, settings, removal in cases:
            with self.subTest(name), (one_wine_session() if removal == "at restart"
                                      else contextlib.nullcontext()):
                exe = self.build("dep-silent,all,all.bin", {"all": self.FILES["all"]}, setup=setup)
                for run in range(runs):
                    code, trace, report = self.run_installer(exe, extra=settings)
                    self.assertEqual(code, 0, trace)
                    self.assertIsNotNone(report, trace)
                    if removal == "at once":
                        self.assertEqual(leftover_workspaces(), [], "run %d: a workspace remains" % run)
                        continue
                    self.assertIn("left to be removed at the next restart", trace)
                    workspace = report["cwd"].rsplit("\\", 1)[-1]
                    pending = wine("reg", "query", r"HKLM\System\CurrentControlSet\Control\Session Manager",
                                   "/v", "PendingFileRenameOperations", display=False).stdout
                    self.assertIn(workspace.encode(), pending, trace)
                    self.assertTrue(os.path.exists(marker), "the lingering process has not ended")
                    self.assertEqual([os.path.basename(p) for p in leftover_workspaces()], [workspace])
                    wine("wineboot", "-r", display=False, timeout=120)
                    self.assertEqual(leftover_workspaces(), [], "the restart left the workspace")

    def test_one_table_of_attacks(self):
        """What a program of the user's can do to the elevated stub in the
        user's own folders; each row runs the attack and checks its outcome.
        (Links that Wine cannot make are unit-tested.)"""
        for name, attack in [("racer renames every new workspace away", self.racer_attack),
                             ("hard link at the log's name", self.log_link_attack)]:
            with self.subTest(name):
                attack()

    def log_link_attack(self):
        """The log's name is a second name of a file the user wants changed:
        the run succeeds and the file is left as it was."""
        victim, logs = os.path.join(self.dir, "victim.txt"), os.path.join(self.dir, "logs")
        os.mkdir(logs)
        with open(victim, "wb") as f:
            f.write(b"unchanged")
        os.link(victim, os.path.join(logs, "QxDBG.log"))
        log_config_set({"enable": 1, "filePath": win_path(os.path.join(logs, "QxDBG.log"))})
        try:
            code, trace, report = self.run_installer(self.build("", {}))
        finally:
            log_config_clear()
        self.assertEqual(code, 0, trace)
        self.assertIsNotNone(report, trace)
        with open(victim, "rb") as f:
            self.assertEqual(f.read(), b"unchanged")
        self.assertEqual(os.listdir(logs), ["QxDBG.log"])

    def racer_attack(self):
        """The racer renames every workspace it sees away and puts a folder of
        its own in its place, as fast as it can: setup.exe must start in the
        stub's own workspace every time, and every run succeed. Only an
        emptied workspace may be taken, in the moment between the removal's
        letting go of it and its deletion; the racer's own folder is never
        removed in its place."""
        import glob
        exe = self.build("dep-silent,all,all.bin", {"all": self.FILES["all"]})
        stop = os.path.join(self.dir, "stop")
        racer = subprocess.Popen([ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch, ARGS.racer,
                                  win_path(stop)], stdout=subprocess.PIPE, env=dict(os.environ, WINEDEBUG="-all"))
        try:
            self.assertEqual(racer.stdout.readline().strip(), b"ready")
            for run in range(20):
                code, trace, report = self.run_installer(exe)
                self.assertEqual(code, 0, trace)
                self.assertIsNotNone(report, trace)
                self.assertNotIn("racer.txt", report["files"], "setup started in the racer's folder")
            open(stop, "w").close()
            counts = racer.communicate(timeout=60)[0].split()
        finally:
            racer.kill()
        self.assertGreaterEqual(int(counts[1]), 20, counts)
        taken = [p for d in prefix_temp_dirs() for p in glob.glob(os.path.join(d, "ITMPD_*_stolen"))]
        self.assertEqual(len(taken), int(counts[5]), counts)
        for path in taken:
            self.assertEqual(os.listdir(path), [], "a workspace with contents was taken")
            planted = path[:-len("_stolen")]
            self.assertEqual(os.listdir(planted), ["racer.txt"], "the racer's folder was changed")
            shutil.rmtree(path)
            shutil.rmtree(planted)
        if taken:
            print("racer: %s (emptied workspaces renamed in the removal's last moment)"
                  % b" ".join(counts).decode(), file=sys.stderr)


@contextlib.contextmanager
def one_wine_session():
    """Keeps the prefix's wineserver (and with it the session) running until
    the end of the block. A server still running does not take a new
    persistence, so the last one is awaited first. The session's own
    processes (services and the like) keep the output of the program that
    starts it: a quiet one starts it, so that no run's output stays open."""
    env = dict(os.environ, WINEPREFIX=prefix_dir())
    quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(["wineserver", "-w"], env=env, timeout=60, **quiet)
    subprocess.run(["wineserver", "-p", "600"], env=env, **quiet)
    subprocess.run([ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch, "cmd", "/c", "exit", "0"],
                   timeout=120, **quiet)
    try:
        yield
    finally:
        subprocess.run(["wineserver", "-k"], env=env, **quiet)
        subprocess.run(["wineserver", "-w"], env=env, timeout=60, **quiet)


class temp_directory_moved_to:
    """Points the prefix user's TEMP and TMP (which Wine takes from the
    registry, not from the Linux environment) elsewhere, and back."""

    def __init__(self, path):
        self.path = path

    def set(self, value):
        for name in ("TEMP", "TMP"):
            wine("reg", "add", r"HKCU\Environment", "/v", name, "/t", "REG_SZ", "/d", value, "/f",
                 display=False)

    def __enter__(self):
        r = wine("reg", "query", r"HKCU\Environment", "/v", "TEMP", display=False)
        m = re.search(rb"TEMP\s+REG_SZ\s+(.+?)\r?$", r.stdout, re.M)
        self.saved = m.group(1).decode() if m else r"C:\users\%s\Temp" % os.environ.get("USER", "root")
        self.set(self.path)

    def __exit__(self, *exc):
        self.set(self.saved)


def flip(path, offset):
    with open(path, "r+b") as f:
        f.seek(offset)
        b = f.read(1)
        f.seek(offset)
        f.write(bytes([b[0] ^ 0x01]))


def suite_main(module, names, around=None):
    """The entry of every Wine test script: parses the shared options into
    module.ARGS (and this module's), reports skipped where Wine cannot run,
    and runs the script's tests inside `around()` when given."""
    global ARGS
    p = argparse.ArgumentParser()
    for name in names + ("winver",):
        p.add_argument("--" + name, default="")
    ARGS, rest = p.parse_known_args()
    ARGS.winver = ARGS.winver or "win10"
    module.ARGS = ARGS
    # wine-run.sh takes the Windows version of the configuration from here.
    os.environ["QX_WINVER"] = ARGS.winver
    # The program under test decides first: Wine's own programs run in a
    # 64-bit prefix even where the 32-bit stub cannot.
    where = [ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch]
    for probe_args in (["--check", ARGS.stub], ["cmd", "/c", "exit", "0"]):
        probe = subprocess.run(where + probe_args, capture_output=True)
        if probe.returncode == SKIP:
            print(probe.stderr.decode(errors="replace").strip())
            return SKIP
    os.makedirs(ARGS.work, exist_ok=True)
    with (around() if around else contextlib.nullcontext()):
        prog = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if prog.result.wasSuccessful() else 1


@contextlib.contextmanager
def virtual_display():
    Xvfb.start()
    try:
        yield
    finally:
        Xvfb.stop()


def main():
    return suite_main(sys.modules[__name__], ("wine-run", "root", "arch", "stub", "probe", "setup-probe",
                                              "fault-runner", "setup-locker", "other-setup-probe", "racer", "qxpack", "keys",
                                              "work"),
                      virtual_display)


if __name__ == "__main__":
    sys.exit(main())
