#!/usr/bin/env python3
"""The main job's demonstration: builds the demo product's installer with
`qxpack build demo/product.json`, verifies it with `qxpack verify`, runs it
under Wine with tracing switched on, and prints the stub's trace (progress
included), the demo setup program's report, the exit code, and whether a
workspace was left behind.

--gui builds the installer in GUI mode and runs it under Xvfb; a screenshot of
the progress dialog is saved next to the installer as *-progress.png.

The product stub (i686) runs where this machine can execute 32-bit programs;
elsewhere the same code built for x86_64 runs under 64-bit Wine."""
import argparse
import glob
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
REPORT = "demo-setup-report.txt"


def debug_strings(stderr):
    """The OutputDebugStringA texts in Wine's debug output, unescaped."""
    for m in re.finditer(rb'OutputDebugStringA "(.*)"', stderr):
        yield m.group(1).decode("latin-1").encode("latin-1").decode("unicode_escape").rstrip("\n")


def workspaces(prefix):
    """The stub's workspaces (ITMPD_*) in the prefix's temporary directories."""
    found = []
    for base, dirs, _ in os.walk(os.path.join(prefix, "drive_c", "users")):
        found += [os.path.join(base, d) for d in dirs if d.startswith("ITMPD_")]
    return found


def png(path, width, height, rows):
    """Writes 8-bit RGB rows (bytes of 3 * width) as a PNG file."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + r for r in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def grab(display):
    """The X screen as xwd writes it, and how many colours it shows (1: nothing drawn)."""
    xwd = subprocess.run(["xwd", "-root", "-silent", "-display", display], capture_output=True).stdout
    if len(xwd) < 100:
        return None, 0
    header, ncolors = struct.unpack_from(">I", xwd, 0)[0], struct.unpack_from(">I", xwd, 76)[0]
    data = xwd[header + 12 * ncolors:]
    return xwd, len(set(data[i:i + 4] for i in range(0, len(data), 4)))


def save_png(xwd, path):
    """Converts xwd's output (four bytes a pixel, colour masks) to an RGB PNG."""
    h = struct.unpack(">25I", xwd[:100])
    header, width, height, order, stride, ncolors = h[0], h[4], h[5], h[7], h[12], h[19]
    # Some servers report 24 bits per pixel while storing four bytes each.
    if stride < 4 * width:
        return False
    masks = h[14:17]
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    data = xwd[header + 12 * ncolors:]
    fmt = ("<%dI" if order == 0 else ">%dI") % width
    pixels = [struct.unpack_from(fmt, data, y * stride) for y in range(height)]
    # Only what is drawn, with a margin: the screen is black around it.
    drawn = [y for y in range(height) if any(pixels[y])]
    columns = [x for x in range(width) if any(row[x] for row in pixels[drawn[0]:drawn[-1] + 1])] if drawn else []
    if not columns:
        return False
    top, bottom = max(drawn[0] - 20, 0), min(drawn[-1] + 21, height)
    left, right = max(columns[0] - 20, 0), min(columns[-1] + 21, width)
    rows = [bytes(((p & m) >> s) & 0xFF for p in pixels[y][left:right] for m, s in zip(masks, shifts))
            for y in range(top, bottom)]
    png(path, right - left, bottom - top, rows)
    return True


class Xvfb:
    def __init__(self):
        self.proc, self.display = None, None
        for n in range(90, 110):
            if os.path.exists("/tmp/.X%d-lock" % n):
                continue
            self.proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(1.0)
            if self.proc.poll() is None:
                self.display = ":%d" % n
                return

    def stop(self):
        if self.proc:
            self.proc.terminate()
            self.proc.wait()


def run_gui(cmd, env, shot):
    """Runs the installer on a virtual display: catches the progress dialog on
    screen (the stub is paused for the picture), then closes the setup
    program's message box. Returns (exit code, stderr, screenshot taken)."""
    xvfb = Xvfb()
    if not xvfb.display:
        print("note: Xvfb did not start; running without a display")
        r = subprocess.run(cmd, capture_output=True, env=env)
        return r.returncode, r.stderr, False
    env = dict(env, DISPLAY=xvfb.display)
    xdo = lambda *a: subprocess.run(["xdotool"] + list(a), capture_output=True, text=True, env=env).stdout.split()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    err = []
    reader = __import__("threading").Thread(target=lambda: err.append(proc.stderr.read()), daemon=True)
    reader.start()
    picture, best = None, 1
    try:
        deadline = time.time() + 120
        while proc.poll() is None and time.time() < deadline:
            boxes = xdo("search", "--name", "^Norvane demo setup$")
            if best < 8 and not boxes:
                # The dialog lives only while the stub extracts: the stub is
                # paused for each grab, and the richest picture (text and bar
                # drawn, not just the frame) is kept.
                os.kill(proc.pid, signal.SIGSTOP)
                try:
                    xwd, colours = grab(xvfb.display)
                finally:
                    os.kill(proc.pid, signal.SIGCONT)
                if colours > best:
                    picture, best = xwd, colours
                time.sleep(0.03)
                continue
            for w in boxes:
                xdo("windowactivate", "--sync", w)
                xdo("key", "--window", w, "Return")
            time.sleep(0.5)
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        reader.join(10)
    finally:
        xvfb.stop()
    return proc.returncode, b"".join(err), picture is not None and save_png(picture, shot)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    p.add_argument("--gui", action="store_true", help="GUI mode under Xvfb, with a screenshot of the progress dialog")
    args = p.parse_args()
    qxpack = os.path.join(args.build, "host", "tools", "qxpack", "qxpack")

    # The shipped i686 stub under WoW64 (64-bit Windows 10), the most common
    # deployment; the x86_64 build only where 32-bit programs cannot run.
    build_dir, arch = "win32", "win64"
    if subprocess.run([WINE_RUN, "--root", os.path.join(args.build, "win32", "wine"), "--arch", "win32",
                       "cmd", "/c", "exit", "0"], capture_output=True).returncode == 77:
        print("note: this machine cannot run 32-bit programs; running the x86_64 build of the stub")
        build_dir = "win64"
    config = ("i686 Stub.exe under WoW64 in a 64-bit Windows 10 prefix" if build_dir == "win32"
              else "x86_64 Stub.exe (64-bit process) in a 64-bit Windows 10 prefix")
    print("== configuration: " + config)
    stub = os.path.join(args.build, build_dir, "InstallerLogic", "Stub.exe")
    setup = os.path.join(args.build, build_dir, "demo", "demo_setup.exe")
    root = os.path.join(args.build, build_dir, "wine")
    out_dir = os.path.join(args.build, "demo")
    installer = os.path.join(out_dir, "NorvaneDemoSetup%s.exe" % ("-gui" if args.gui else ""))

    print("== qxpack build demo/product.json")
    build = [qxpack, "build", os.path.join(ROOT, "demo", "product.json"), "--stub", stub, "--setup", setup,
             "-o", installer] + (["--type", "gui"] if args.gui else [])
    if subprocess.run(build).returncode != 0:
        return 1
    print("== qxpack verify", installer)
    if subprocess.run([qxpack, "verify", installer]).returncode != 0:
        return 1

    def wine(*cmd):
        return subprocess.run([WINE_RUN, "--root", root, "--arch", arch] + list(cmd), capture_output=True)

    report = os.path.join(out_dir, REPORT)
    if os.path.exists(report):
        os.remove(report)
    prefix = os.path.join(root, "prefix-" + arch)
    before = set(workspaces(prefix))
    wine("reg", "add", r"HKLM\Software\Kestrowan", "/v", "QXSTR", "/t", "REG_SZ", "/d", "!Tracelog!", "/f", "/reg:64")
    try:
        print("== running the installer under Wine (%s, %s mode), trace on" % (config, "GUI" if args.gui else "silent"))
        cmd = [WINE_RUN, "--root", root, "--arch", arch, installer, "--demo-argument", "two words"]
        env = dict(os.environ, WINEDEBUG="warn+debugstr")
        shot = os.path.splitext(installer)[0] + "-progress.png"
        if args.gui:
            code, stderr, taken = run_gui(cmd, env, shot)
        else:
            r = subprocess.run(cmd, capture_output=True, env=env)
            code, stderr, taken = r.returncode, r.stderr, False
    finally:
        wine("reg", "delete", r"HKLM\Software\Kestrowan", "/v", "QXSTR", "/f", "/reg:64")
    print("== the stub's trace")
    for line in debug_strings(stderr):
        print("  " + line)
    print("== the demo setup program's report (%s)" % report)
    if os.path.exists(report):
        with open(report, encoding="utf-8", errors="replace") as f:
            for line in f.read().splitlines():
                print("  " + line)
    else:
        print("  (none: the setup program did not run)")
    print("== exit code:", code)
    print("== configuration: " + config)
    left = sorted(set(workspaces(prefix)) - before)
    print("== workspace: " + ("none remains" if not left else "LEFT BEHIND: " + ", ".join(left)))
    if args.gui:
        print("== screenshot of the progress dialog: " + (shot if taken else "not caught"))
    return 0 if code == 0 and os.path.exists(report) and not left else 1


if __name__ == "__main__":
    sys.exit(main())
