#!/usr/bin/env python3
"""The log writer under Wine: the log of a finished installer's run and of
trace_loop, with the configuration as JSON text in the registry value "qxdbg"."""
import contextlib
import datetime
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import wine_tests
from wine_tests import debug_lines, qxpack, reg_clear, trace_on, wine
from wine_tests import log_config_clear as config_clear, log_config_set as config_set

ARGS = None
KEY = r"HKLM\SOFTWARE\Kestrowan"
# The decoration of one entry: local time, process, thread.
ENTRY = re.compile(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \[P (\d+)\] \[T [0-9a-f]{8}\] ")




def config_present():
    return wine("reg", "query", KEY, "/v", "qxdbg", "/reg:64", display=False).returncode == 0


def entries(path):
    """(time, pid, text) of every entry of a log file, in order."""
    with open(path, "rb") as f:
        content = f.read().decode("utf-8")
    starts = list(ENTRY.finditer(content))
    assert starts and starts[0].start() == 0, content[:200]
    ends = [m.start() for m in starts[1:]] + [len(content)]
    return [(m.group(1), int(m.group(2)), content[m.end():end]) for m, end in zip(starts, ends)]


def texts(path):
    return [text for _, _, text in entries(path)]


class LogTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not ARGS.qxpack or not os.path.exists(ARGS.qxpack):
            raise unittest.SkipTest("qxpack not built")
        cls.work = tempfile.mkdtemp(prefix="log-", dir=ARGS.work)
        setup = os.path.join(cls.work, "setup.bin")
        with open(setup, "wb") as f:
            f.write(os.urandom(100000))
        cls.installer = os.path.join(cls.work, "silent.exe")
        qxpack("stub", "--stub", ARGS.stub, "--setup", setup, "--type", "silent", "--keys", ARGS.keys,
               "-o", cls.installer)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.new_dir()
        trace_on()

    def new_dir(self):
        self.dir = tempfile.mkdtemp(prefix="run-", dir=self.work)

    def tearDown(self):
        reg_clear()
        config_clear()

    def run_here(self, *cmd, timeout=90):
        # The default log path is relative: the file lands in self.dir.
        old = os.getcwd()
        os.chdir(self.dir)
        try:
            r = wine(*cmd, debug="warn+debugstr", timeout=timeout, display=False)
        finally:
            os.chdir(old)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        return r

    def run_installer(self):
        """The run's trace lines as the log shows them: no thread prefix, CR LF."""
        r = self.run_here(self.installer)
        # Progress lines reach the debugger channel directly, never the log.
        return [line[13:].replace("\n", "\r\n") for line in debug_lines(r.stderr) if line.startswith("[T ")]

    def run_loop(self, *args, **kw):
        return int(re.search(rb"pid (\d+)", self.run_here(ARGS.loop, *args, **kw).stdout).group(1))

    def log(self, name="QxDBG.log"):
        return os.path.join(self.dir, name)

    def test_installer_run_writes_every_trace_line_decorated(self):
        config_set({"enable": 1})
        traced = self.run_installer()
        logged = entries(self.log())
        # One entry per trace line, in order, up to the run's last line
        # (Wine's debug output shortens long lines: compare their start).
        self.assertEqual(len(logged), len(traced), traced)
        for (_, _, text), line in zip(logged, traced):
            self.assertTrue(text.startswith(line), (text, line))
        self.assertIn("[INSTALLER] Type is silent\r\n", traced)
        self.assertEqual(len({pid for _, pid, _ in logged}), 1)
        stamp = datetime.datetime.strptime(logged[0][0], "%Y-%m-%d %H:%M:%S")
        self.assertLess(abs((stamp - datetime.datetime.now()).total_seconds()), 600)

    def test_patterns_choose_the_lines(self):
        for patterns, wanted in [({"exclude": ["Type is"]}, lambda t: "Type is" not in t),
                                 ({"include": ["[INSTALLER]"]}, lambda t: "[INSTALLER]" in t)]:
            with self.subTest(patterns):
                self.new_dir()
                config_set(dict(patterns, enable=1))
                traced = self.run_installer()
                expected = [t for t in traced if wanted(t)]
                self.assertTrue(0 < len(expected) < len(traced), traced)
                self.assertEqual(texts(self.log()), expected)

    def test_without_the_value_nothing_is_written(self):
        self.assertTrue(self.run_installer())
        self.assertEqual(os.listdir(self.dir), [])

    def test_file_path_moves_the_file(self):
        moved = os.path.join(self.dir, "logs", "trace.txt")
        os.mkdir(os.path.dirname(moved))
        config_set({"enable": 1, "filePath": "Z:" + moved.replace("/", "\\")})
        self.run_loop()
        self.assertEqual(os.listdir(self.dir), ["logs"])
        self.assertEqual(texts(moved), ["last line\r\n"])

    def test_size_limit_zero_rotates_after_every_batch(self):
        config_set({"enable": 1, "maxFileSizeMb": 0, "maxBackupsCount": 2})
        self.run_loop("batches:4")  # batch 0..3, then the last line: five batches
        self.assertEqual(sorted(os.listdir(self.dir)), ["QxDBG-1.log", "QxDBG-2.log"])
        self.assertEqual(texts(self.log("QxDBG-2.log")), ["batch 3\r\n"])
        self.assertEqual(texts(self.log("QxDBG-1.log")), ["last line\r\n"])
        config_set({"enable": 1})
        self.run_loop()
        self.assertEqual(texts(self.log()), ["last line\r\n"])

    def test_lines_beyond_1000_waiting_are_dropped(self):
        config_set({"enable": 1})
        pid = self.run_loop("hold:1500")
        logged = entries(self.log())
        self.assertEqual([t for _, _, t in logged if t.startswith("held ")],
                         ["held %d\r\n" % i for i in range(1000)])
        self.assertRegex(logged[-2][2], r"^hold end, [1-9]\d* threads held")
        self.assertEqual(logged[-1][2], "last line\r\n")
        self.assertEqual({p for _, p, _ in logged}, {pid})

    def test_max_run_time_deletes_the_value_after_a_minute(self):
        config_set({"enable": 1, "maxRunTime": 1})
        self.run_loop("until-gone:100", timeout=150)
        self.assertFalse(config_present())
        logged = entries(self.log())
        self.assertEqual({t.split()[0] for _, _, t in logged}, {"tick"})
        first, last = (datetime.datetime.strptime(logged[i][0], "%Y-%m-%d %H:%M:%S") for i in (0, -1))
        self.assertGreaterEqual((last - first).total_seconds(), 58)


class PersistentServer:
    """One Wine server for the suite. Otherwise every short Wine call starts a
    server and Wine's services, and its captured output stays open until they
    have gone again, seconds later."""

    def __init__(self):
        prefix = wine_tests.prefix_dir()
        self.proc = subprocess.Popen(["wineserver", "-f", "-p"], env=dict(os.environ, WINEPREFIX=prefix),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A Wine call made before the server listens would start one of its own.
        st = os.stat(prefix)
        name = "server-%x-%x/socket" % (st.st_dev, st.st_ino)
        sockets = ["/tmp/.wine-%d/%s" % (os.getuid(), name), "/tmp/wine-*/" + name]
        deadline = time.time() + 10
        while self.proc.poll() is None and time.time() < deadline and not any(map(glob.glob, sockets)):
            time.sleep(0.1)
        # The first call starts the services, which live as long as the server:
        # they must not inherit a pipe that a test reads to its end.
        subprocess.run([ARGS.wine_run, "--root", ARGS.root, "--arch", ARGS.arch, "cmd", "/c", "exit", "0"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()


@contextlib.contextmanager
def persistent_server():
    server = PersistentServer()
    try:
        yield
    finally:
        server.stop()


def main():
    return wine_tests.suite_main(sys.modules[__name__], ("wine-run", "root", "arch", "stub", "loop", "qxpack",
                                                         "keys", "work"), persistent_server)


if __name__ == "__main__":
    sys.exit(main())
