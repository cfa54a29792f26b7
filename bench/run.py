#!/usr/bin/env python3
"""The installer benchmark: one command that builds the reference products'
installers and times them side by side under one 64-bit Wine prefix.

    python3 bench/run.py [--runs 5] [--only i686|x86_64] [--tiny] [--no-build] [--no-large] [--profile]

Two tables, one for each build of the stub, each with its own floor, setup
program and comparison installer, all in one WINEARCH=win64 prefix:
  i686    the shipped build (build/win32): a 32-bit process under WoW64,
          started with Wine's 32-bit loader (/usr/lib/wine/wine), against an
          NSIS x86-unicode installer (what NSIS installers ship as)
  x86_64  the same code built for x86_64 (build/win64), started with
          /usr/lib/wine/wine64, against an NSIS amd64-unicode installer
Where this machine cannot run 32-bit programs (no kernel ia32 emulation, or no
32-bit Wine) the i686 table says so and is skipped; the other still runs.

Contestants of a table, each run as a whole process with its output going to
/dev/null; all contestants of both tables take turns, in a rotating order:
  stub   the product's installer as `qxpack build` makes it
  floor  bench/floor.cc on the same installer: only the format's unavoidable work
  nsis   makensis (zlib) installer of the same files and setup program

Products: 10 files of 1 MB in all (there the stub's fixed costs decide) and
200 files of 57 MB; a 200 MB one, one stub run per table, for the peak memory
figure (not with --no-large). --tiny: 6 files, one run (the ctest bench_tiny).

With --profile it also builds each stub with QX_PROFILE_PHASES (in
build/win32-profile and build/win64-profile) and prints the median time of
each phase of its runs on each product.

Wall time is measured from process start to exit. Peak memory is the largest
VmHWM (peak resident size) of the contestant's Wine process, read from /proc
while it runs. Every run must end with exit code 0 and with the benchmark's
setup program having counted the whole product in its working directory; no
workspace may be left behind. Exit code 77: nothing could run here (makensis
missing, or every selected table skipped).
"""
import argparse
import glob
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
QXPACK = os.path.join(ROOT, "build", "host", "tools", "qxpack", "qxpack")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
LOADER32 = "/usr/lib/wine/wine"
LOADER64 = "/usr/lib/wine/wine64"

# name: (total MB, files)
PRODUCTS = {"1mb": (1, 10), "57mb": (57, 200), "200mb": (200, 250), "tiny": (0.3, 6)}
CONTESTANTS = ("stub", "floor", "nsis")


class Table:
    """One build of the stub with its floor, setup program, loader and NSIS target."""

    def __init__(self, arch, preset, loader, nsis_target, title):
        self.arch, self.preset, self.loader, self.nsis_target = arch, preset, loader, nsis_target
        self.title = title
        build = os.path.join(ROOT, "build", preset)
        self.stub = os.path.join(build, "InstallerLogic", "Stub.exe")
        self.floor = os.path.join(build, "bench", "qx_floor.exe")
        self.setup = os.path.join(build, "bench", "bench_setup.exe")
        self.profile_build = os.path.join(ROOT, "build", preset + "-profile")
        self.profile_stub = os.path.join(self.profile_build, "InstallerLogic", "Stub.exe")
        self.skipped = None


def make_tables():
    return [
        Table("i686", "win32", LOADER32, "x86-unicode",
              "i686 stub (shipped, build/win32): 32-bit process under WoW64, %s; NSIS x86-unicode"
              % LOADER32),
        Table("x86_64", "win64", LOADER64, "amd64-unicode",
              "x86_64 stub (build/win64): 64-bit process, %s; NSIS amd64-unicode" % LOADER64),
    ]


def why_not_32():
    """Why this machine cannot run 32-bit Windows programs, or None if it can."""
    try:
        probe = subprocess.run(["/lib/ld-linux.so.2", "--version"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True)
        failed = None if probe.returncode == 0 else (
            probe.stderr.strip().splitlines() or ["exit %d" % probe.returncode])[0]
    except OSError as e:
        failed = e.strerror
    if failed:
        return ("this machine cannot execute 32-bit programs (/lib/ld-linux.so.2 --version: %s; "
                "kernel ia32 emulation off or 32-bit libc missing)" % failed)
    if not os.access(LOADER32, os.X_OK):
        return "32-bit Wine is not installed (no %s; Debian package wine32:i386)" % LOADER32
    return None


def why_not(table):
    if table.arch == "i686":
        return why_not_32()
    if not os.access(LOADER64, os.X_OK):
        return "64-bit Wine is not installed (no %s)" % LOADER64
    return None


def log(text):
    print(text, file=sys.stderr, flush=True)


def build(tables):
    steps = [("host", ["qxpack"])] + [(t.preset, ["Stub", "qx_floor", "bench_setup"]) for t in tables]
    for preset, targets in steps:
        if not os.path.isdir(os.path.join(ROOT, "build", preset)):
            subprocess.run(["cmake", "--preset", preset], cwd=ROOT, check=True,
                           stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", preset, "-j2", "--target"] + targets,
                       cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def build_profile_stub(table):
    if not os.path.isdir(table.profile_build):
        subprocess.run(["cmake", "--preset", table.preset, "-B", table.profile_build,
                        "-DQX_PROFILE_PHASES=ON"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", table.profile_build, "-j2", "--target", "Stub"], cwd=ROOT,
                   check=True, stdout=subprocess.DEVNULL)


def generator_stamp(name):
    total, files = PRODUCTS[name]
    digest = hashlib.sha1(open(os.path.join(ROOT, "bench", "make_product.py"), "rb").read())
    return "%s %s %s" % (total, files, digest.hexdigest())


def make_product(work, name, table):
    """The product's files and description, made again only when the generator
    changed. Installers are built with each table's stub and setup program
    given to qxpack, so the description's own do not matter."""
    folder = os.path.join(work, name)
    stamp_path = os.path.join(folder, "stamp")
    stamp = generator_stamp(name)
    if not (os.path.exists(stamp_path) and open(stamp_path).read() == stamp):
        shutil.rmtree(folder, ignore_errors=True)
        total, files = PRODUCTS[name]
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "make_product.py"), folder,
                        "--total-mb", str(total), "--files", str(files), "--setup", table.setup,
                        "--stub", table.stub, "--keys", os.path.join(ROOT, "keys", "dev")],
                       check=True, stdout=subprocess.DEVNULL)
        with open(stamp_path, "w") as f:
            f.write(stamp)
    return folder


def product_bytes(folder):
    return sum(os.path.getsize(p) for p in glob.glob(os.path.join(folder, "files", "*")))


def timed(command, cwd=None):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def qxpack_build(folder, table, output, stub=None):
    return timed([QXPACK, "build", os.path.join(folder, "product.json"), "-o", output,
                  "--stub", stub or table.stub, "--setup", table.setup])


def make_installers(folder, table, with_nsis=True):
    """Builds the table's installers of the product; returns their paths and build times."""
    stub_out = os.path.join(folder, "installer-%s.exe" % table.arch)
    qx_time = qxpack_build(folder, table, stub_out)
    if not with_nsis:
        return stub_out, None, qx_time, None
    nsis_out = os.path.join(folder, "nsis-%s.exe" % table.arch)
    script = os.path.join(folder, "nsis-%s.nsi" % table.arch)
    sys.path.insert(0, os.path.join(ROOT, "bench"))
    import make_nsis
    with open(script, "w") as f:
        f.write(make_nsis.nsis_script(os.path.join(folder, "product.json"), table.setup, nsis_out,
                                      table.nsis_target))
    nsis_time = timed(["makensis", "-V1", script])
    return stub_out, nsis_out, qx_time, nsis_time


def wine_env(wine_root):
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.join(wine_root, "prefix-win64")
    env["WINEARCH"] = "win64"
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return env


def prepare_prefix(env, wine_root, program):
    # wine-run.sh creates the prefix on first use (again, with its 32-bit half,
    # once 32-bit Wine has been installed).
    code = subprocess.run(["bash", WINE_RUN, "--root", wine_root, "--arch", "win64", program],
                          env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    if code != 0:
        raise SystemExit("wine-run.sh could not run %s in %s (exit %d)"
                         % (program, env["WINEPREFIX"], code))
    # A persistent wineserver keeps its start-up out of the timed runs. A
    # running wineserver does not take a new persistence (`wineserver -p` exits
    # with 2 while one runs), so the one that the run above left, which ends a
    # few seconds after its last client, is awaited first. One that outlasts
    # the wait is the persistent server of an earlier benchmark: it is kept.
    # The server started here keeps whatever descriptors it was given for as
    # long as it persists: with the caller's output pipe it would hold a
    # ctest run open until it ends, so it gets none (stop_server ends it).
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    try:
        subprocess.run(["wineserver", "-w"], env=env, timeout=20, **quiet)
    except subprocess.TimeoutExpired:
        pass
    subprocess.run(["wineserver", "-p", "300"], env=env, stdin=subprocess.DEVNULL, **quiet)
    users = os.path.join(env["WINEPREFIX"], "drive_c", "users", os.environ.get("USER", "root"))
    for temp in (os.path.join(users, "Temp"), os.path.join(users, "AppData", "Local", "Temp")):
        if os.path.isdir(temp):
            return temp
    raise SystemExit("no temporary directory in the Wine prefix under " + users)


def stop_server(env):
    """Ends the prefix's wineserver, so that no persistent server outlives the benchmark."""
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def peak_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_once(command, env):
    """Wall seconds, exit code and peak resident KiB of the Wine process."""
    peak = [0]
    done = threading.Event()
    start = time.perf_counter()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)

    def poll():
        while not done.is_set():
            peak[0] = max(peak[0], peak_kib(process.pid))
            done.wait(0.01)

    watcher = threading.Thread(target=poll)
    watcher.start()
    code = process.wait()
    wall = time.perf_counter() - start
    done.set()
    watcher.join()
    return wall, code, peak[0]


def leftovers(temp):
    return [p for pattern in ("ITMPD_*", "QXFLOOR_*", "ns*.tmp")
            for p in glob.glob(os.path.join(temp, pattern))]


def contestants(table, stub_installer, nsis_installer):
    return [
        ((table.arch, "stub"), [table.loader, stub_installer]),
        ((table.arch, "floor"), [table.loader, table.floor, windows_path(stub_installer)]),
        ((table.arch, "nsis"), [table.loader, nsis_installer]),
    ]


def measure(entries, runs, env, temp, files, warm_up):
    """Runs the entries in turn, `runs` times each, the order rotating by one
    each round; returns {key: {"wall": [...], "peak": [...]}}."""
    results = {key: {"wall": [], "peak": []} for key, _ in entries}
    marker = os.path.join(temp, "qx-bench-setup.txt")
    # Untimed: the first Wine process after a pause also pays for the server's
    # and the prefix's start-up, and the first of each loader for its own.
    for command in warm_up:
        run_once(command, env)
    for r in range(runs):
        order = entries[r % len(entries):] + entries[:r % len(entries)]
        for key, command in order:
            if os.path.exists(marker):
                os.remove(marker)
            # Untimed: what earlier runs wrote reaches the disk first, so no
            # run pays for another's write-back.
            os.sync()
            wall, code, peak = run_once(command, env)
            delivered = int(open(marker).read() or 0) if os.path.exists(marker) else -1
            left = leftovers(temp)
            for path in left:
                shutil.rmtree(path, ignore_errors=True)
            if code != 0 or delivered < files + 1 or left:
                raise SystemExit("%s %s: run failed: exit %d, setup saw %d files (want %d+), left %s"
                                 % (key + (code, delivered, files + 1, left)))
            results[key]["wall"].append(wall)
            results[key]["peak"].append(peak)
            log("  %-6s %-5s run %d: %.3f s, peak %.1f MB" % (key + (r + 1, wall, peak / 1024)))
    return results


def profile(folder, table, runs, env, temp, files):
    """Median milliseconds and largest peak per phase of the profiling stub's runs."""
    installer = os.path.join(folder, "installer-%s-profile.exe" % table.arch)
    qxpack_build(folder, table, installer, stub=table.profile_stub)
    out = os.path.join(folder, "phases-%s.txt" % table.arch)
    if os.path.exists(out):
        os.remove(out)
    penv = dict(env, QX_PHASE_PROFILE=windows_path(out))
    measure([((table.arch, "stub"), [table.loader, installer])], runs, penv, temp, files,
            [[table.loader, table.setup]])
    phases = {}
    for line in open(out):
        name, ms, peak = line.split()
        phases.setdefault(name, []).append((float(ms), float(peak)))
    return {name: (statistics.median(m for m, _ in v), max(p for _, p in v))
            for name, v in phases.items()}


def mb(n):
    return "%.1f MB" % (n / 1e6)


def label(name, figures):
    return "%d files, %s" % (PRODUCTS[name][1], mb(figures["bytes"]))


def print_table(table, runs, measured, large, phases):
    print("## " + table.title)
    print()
    if table.skipped:
        print("skipped: " + table.skipped)
        print()
        return
    names = list(measured)
    print("| product | contestant | wall median | min | max | peak memory | installer |")
    print("|---|---|---|---|---|---|---|")
    for name in names:
        m = measured[name]
        for c in CONTESTANTS:
            r = m["results"][(table.arch, c)]
            print("| %s | %s | %.3f s | %.3f s | %.3f s | %.1f MB | %s |" % (
                label(name, m), c, m["median"][c], min(r["wall"]), max(r["wall"]),
                max(r["peak"]) / 1024, mb(m["sizes"][c])))
    print()
    print("| ratio | " + " | ".join(label(n, measured[n]) for n in names) + " |")
    print("|---|" + "---|" * len(names))
    rows = [
        ("stub / floor (wall, medians)", lambda m: "%.2f" % (m["median"]["stub"] / m["median"]["floor"])),
        ("stub / nsis (wall, medians)", lambda m: "%.2f" % (m["median"]["stub"] / m["median"]["nsis"])),
        ("stub installer / nsis installer (size)",
         lambda m: "%.3f" % (m["sizes"]["stub"] / m["sizes"]["nsis"])),
        ("qxpack build / makensis (time)", lambda m: "%.2f s / %.2f s = %.2f" % (
            m["qx_time"], m["nsis_time"], m["qx_time"] / m["nsis_time"])),
    ]
    for title, cell in rows:
        print("| %s | %s |" % (title, " | ".join(cell(measured[n]) for n in names)))
    if large:
        print()
        print("stub peak memory, 200 MB product (%d files, %s, installer %s, %.2f s): %.1f MB" % (
            PRODUCTS["200mb"][1], mb(large["bytes"]), mb(large["size"]), large["wall"],
            large["peak"] / 1024))
    for name, ph in (phases or {}).items():
        print()
        print("| stub phase, %s (profiling build, median of %d runs) | ms | peak memory at its end |"
              % (label(name, measured[name]), runs))
        print("|---|---|---|")
        for phase, (ms, peak) in ph.items():
            print("| %s | %.1f | %.1f MB |" % (phase, ms, peak))
        print("| sum | %.1f | |" % sum(ms for ms, _ in ph.values()))
    print()


def main():
    global QXPACK
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--only", choices=("i686", "x86_64"), help="one table only")
    ap.add_argument("--tiny", action="store_true", help="a 6-file product, one run: keeps it working")
    ap.add_argument("--no-build", action="store_true")
    ap.add_argument("--no-large", action="store_true", help="skip the 200 MB memory figure")
    ap.add_argument("--profile", action="store_true", help="also time the stub's phases")
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "bench"))
    ap.add_argument("--wine-root", default=os.path.join(ROOT, "build", "wine"))
    # Programs other than the default build's (the tiny test passes its own);
    # the stub, floor and setup program belong to the table that --only names.
    ap.add_argument("--qxpack", default=QXPACK)
    ap.add_argument("--stub")
    ap.add_argument("--floor")
    ap.add_argument("--setup")
    a = ap.parse_args()
    if (a.stub or a.floor or a.setup) and not a.only:
        ap.error("--stub, --floor and --setup need --only (the table they belong to)")
    if a.runs < 1:
        ap.error("--runs must be at least 1")
    QXPACK = a.qxpack
    tables = [t for t in make_tables() if a.only in (None, t.arch)]
    for t in tables:
        t.stub, t.floor, t.setup = a.stub or t.stub, a.floor or t.floor, a.setup or t.setup
        t.skipped = why_not(t)
        if t.skipped:
            log("%s: skipped: %s" % (t.arch, t.skipped))
    if shutil.which("makensis") is None:
        log("makensis is missing (Debian package nsis): skipped")
        return 77
    running = [t for t in tables if not t.skipped]
    if a.tiny:
        a.runs, a.no_large = 1, True
    if running and not a.no_build:
        build(running)
        if a.profile:
            for t in running:
                build_profile_stub(t)
    programs = [QXPACK] if running else []
    programs += [p for t in running for p in (t.stub, t.floor, t.setup)]
    programs += [t.profile_stub for t in running] if a.profile else []
    missing = [p for p in programs if not os.path.isfile(p)]
    if missing:
        raise SystemExit("missing: %s (build them, or run without --no-build)" % ", ".join(missing))

    measured = {t.arch: {} for t in running}
    large = {}
    phases = {t.arch: {} for t in running}
    if running:
        os.makedirs(a.work, exist_ok=True)
        env = wine_env(a.wine_root)
        temp = prepare_prefix(env, a.wine_root, running[0].setup)
        try:
            for path in leftovers(temp):
                shutil.rmtree(path, ignore_errors=True)
            warm_up = [[t.loader, t.setup] for t in running]

            for name in ["tiny"] if a.tiny else ["1mb", "57mb"]:
                log("product %s" % name)
                folder = make_product(a.work, name, running[0])
                files = PRODUCTS[name][1]
                entries = []
                for t in running:
                    stub_installer, nsis_installer, qx_time, nsis_time = make_installers(folder, t)
                    entries += contestants(t, stub_installer, nsis_installer)
                    size = os.path.getsize(stub_installer)
                    measured[t.arch][name] = {
                        "bytes": product_bytes(folder), "qx_time": qx_time, "nsis_time": nsis_time,
                        "sizes": {"stub": size, "floor": size, "nsis": os.path.getsize(nsis_installer)}}
                results = measure(entries, a.runs, env, temp, files, warm_up)
                for t in running:
                    m = measured[t.arch][name]
                    m["results"] = results
                    m["median"] = {c: statistics.median(results[(t.arch, c)]["wall"]) for c in CONTESTANTS}
                if a.profile:
                    for t in running:
                        log("product %s, %s profiling stub" % (name, t.arch))
                        phases[t.arch][name] = profile(folder, t, a.runs, env, temp, files)

            if not a.no_large:
                big = make_product(a.work, "200mb", running[0])
                for t in running:
                    log("product 200mb, %s stub only (memory)" % t.arch)
                    big_stub, _, _, _ = make_installers(big, t, with_nsis=False)
                    r = measure([((t.arch, "stub"), [t.loader, big_stub])], 1, env, temp,
                                PRODUCTS["200mb"][1], [[t.loader, t.setup]])[(t.arch, "stub")]
                    large[t.arch] = {"peak": r["peak"][0], "wall": r["wall"][0],
                                     "size": os.path.getsize(big_stub), "bytes": product_bytes(big)}
        finally:
            stop_server(env)

    print("%d run%s of each contestant, all contestants in turn, output to /dev/null; "
          "one WINEARCH=win64 Wine prefix (%s)" % (a.runs, "" if a.runs == 1 else "s",
                                                   os.path.join(a.wine_root, "prefix-win64")))
    print()
    for t in tables:
        print_table(t, a.runs, measured.get(t.arch), large.get(t.arch), phases.get(t.arch))
    return 0 if running else 77


if __name__ == "__main__":
    sys.exit(main())
