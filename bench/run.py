#!/usr/bin/env python3
"""The installer benchmark: one command that builds the reference product's
three installers and times them side by side under one 64-bit Wine prefix.

    python3 bench/run.py [--runs 5] [--tiny] [--no-build] [--no-large] [--profile]

Contestants, run alternately, each as a whole process with its output going
to /dev/null:
  stub   the product's installer as `qxpack build` makes it (build/win64 Stub.exe)
  floor  bench/floor.cc on the same installer: only the format's unavoidable work
  nsis   makensis (zlib) installer of the same files and setup program

With --profile it also builds the stub with QX_PROFILE_PHASES (in
build/win64-profile) and prints the median time of each phase of its runs.

Wall time is measured from process start to exit. Peak memory is the largest
VmHWM (peak resident size) of the contestant's Wine process, read from /proc
while it runs. Every run must end with exit code 0 and with the benchmark's
setup program having counted the whole product in its working directory; no
workspace may be left behind.
"""
import argparse
import glob
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HOST = os.path.join(ROOT, "build", "host")
WIN64 = os.path.join(ROOT, "build", "win64")
QXPACK = os.path.join(HOST, "tools", "qxpack", "qxpack")
STUB = os.path.join(WIN64, "InstallerLogic", "Stub.exe")
FLOOR = os.path.join(WIN64, "bench", "qx_floor.exe")
SETUP = os.path.join(WIN64, "bench", "bench_setup.exe")
PROFILE_BUILD = os.path.join(ROOT, "build", "win64-profile")
PROFILE_STUB = os.path.join(PROFILE_BUILD, "InstallerLogic", "Stub.exe")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
LOADER = "/usr/lib/wine/wine64"

# name: (total MB, files)
PRODUCTS = {"57mb": (57, 200), "200mb": (200, 250), "tiny": (0.3, 6)}


def log(text):
    print(text, file=sys.stderr, flush=True)


def build(work):
    for preset, targets in (("host", ["qxpack"]), ("win64", ["Stub", "qx_floor", "bench_setup"])):
        if not os.path.isdir(os.path.join(ROOT, "build", preset)):
            subprocess.run(["cmake", "--preset", preset], cwd=ROOT, check=True,
                           stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", preset, "-j2", "--target"] + targets,
                       cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def build_profile_stub():
    if not os.path.isdir(PROFILE_BUILD):
        subprocess.run(["cmake", "--preset", "win64", "-B", PROFILE_BUILD, "-DQX_PROFILE_PHASES=ON"],
                       cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", PROFILE_BUILD, "-j2", "--target", "Stub"], cwd=ROOT,
                   check=True, stdout=subprocess.DEVNULL)


def profile(folder, runs, env, temp, files):
    """Median milliseconds per phase of the profiling stub's runs."""
    installer = os.path.join(folder, "installer-profile.exe")
    subprocess.run([QXPACK, "build", os.path.join(folder, "product.json"), "-o", installer,
                    "--stub", PROFILE_STUB], check=True, stdout=subprocess.DEVNULL)
    out = os.path.join(folder, "phases.txt")
    if os.path.exists(out):
        os.remove(out)
    penv = dict(env, QX_PHASE_PROFILE=windows_path(out))
    measure([("stub", [LOADER, installer])], runs, penv, temp, files)
    phases = {}
    for line in open(out):
        name, ms, peak = line.split()
        phases.setdefault(name, []).append((float(ms), float(peak)))
    return {name: (statistics.median(m for m, _ in v), max(p for _, p in v))
            for name, v in phases.items()}


def generator_stamp(name):
    total, files = PRODUCTS[name]
    digest = hashlib.sha1(open(os.path.join(ROOT, "bench", "make_product.py"), "rb").read())
    return "%s %s %s %s" % (total, files, digest.hexdigest(), STUB)


def make_product(work, name):
    folder = os.path.join(work, name)
    stamp_path = os.path.join(folder, "stamp")
    stamp = generator_stamp(name)
    if not (os.path.exists(stamp_path) and open(stamp_path).read() == stamp):
        shutil.rmtree(folder, ignore_errors=True)
        total, files = PRODUCTS[name]
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "make_product.py"), folder,
                        "--total-mb", str(total), "--files", str(files), "--setup", SETUP,
                        "--stub", STUB, "--keys", os.path.join(ROOT, "keys", "dev")],
                       check=True, stdout=subprocess.DEVNULL)
        with open(stamp_path, "w") as f:
            f.write(stamp)
    return folder


def timed(command, cwd=None):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def make_installers(folder):
    """Builds both installers; returns their paths and build times."""
    product = os.path.join(folder, "product.json")
    stub_out = os.path.join(folder, "installer.exe")
    nsis_out = os.path.join(folder, "nsis-installer.exe")
    script = os.path.join(folder, "nsis.nsi")
    sys.path.insert(0, os.path.join(ROOT, "bench"))
    import make_nsis
    with open(script, "w") as f:
        f.write(make_nsis.nsis_script(product, SETUP, nsis_out, "amd64-unicode"))
    qx_time = timed([QXPACK, "build", product, "-o", stub_out])
    nsis_time = timed(["makensis", "-V1", script])
    return stub_out, nsis_out, qx_time, nsis_time


def wine_env(wine_root):
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.join(wine_root, "prefix-win64")
    env["WINEARCH"] = "win64"
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return env


def prepare_prefix(env, wine_root):
    # wine-run.sh creates the prefix on first use; a persistent wineserver keeps
    # its start-up out of the timed runs.
    subprocess.run(["bash", WINE_RUN, "--root", wine_root, "--arch", "win64", SETUP], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p", "300"], env=env)
    users = os.path.join(env["WINEPREFIX"], "drive_c", "users", os.environ.get("USER", "root"))
    for temp in (os.path.join(users, "Temp"), os.path.join(users, "AppData", "Local", "Temp")):
        if os.path.isdir(temp):
            return temp
    raise SystemExit("no temporary directory in the Wine prefix under " + users)


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


def contestants(stub_installer, nsis_installer):
    return [
        ("stub", [LOADER, stub_installer]),
        ("floor", [LOADER, FLOOR, windows_path(stub_installer)]),
        ("nsis", [LOADER, nsis_installer]),
    ]


def measure(entries, runs, env, temp, files):
    results = {name: {"wall": [], "peak": []} for name, _ in entries}
    marker = os.path.join(temp, "qx-bench-setup.txt")
    # Untimed: the first Wine process after a pause also pays for the server's
    # and the prefix's start-up.
    run_once([LOADER, SETUP], env)
    for r in range(runs):
        order = entries[r % len(entries):] + entries[:r % len(entries)]
        for name, command in order:
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
                raise SystemExit("%s: run failed: exit %d, setup saw %d files (want %d+), left %s"
                                 % (name, code, delivered, files + 1, left))
            results[name]["wall"].append(wall)
            results[name]["peak"].append(peak)
            log("  %-5s run %d: %.3f s, peak %.1f MB" % (name, r + 1, wall, peak / 1024))
    return results


def mb(n):
    return "%.1f MB" % (n / 1e6)


def main():
    global QXPACK, STUB, FLOOR, SETUP
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--tiny", action="store_true", help="a 6-file product, one run: keeps it working")
    ap.add_argument("--no-build", action="store_true")
    ap.add_argument("--no-large", action="store_true", help="skip the 200 MB memory figure")
    ap.add_argument("--profile", action="store_true", help="also time the stub's phases")
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "bench"))
    ap.add_argument("--wine-root", default=os.path.join(ROOT, "build", "wine"))
    # Programs other than the default build's (the tiny test passes its own).
    ap.add_argument("--qxpack", default=QXPACK)
    ap.add_argument("--stub", default=STUB)
    ap.add_argument("--floor", default=FLOOR)
    ap.add_argument("--setup", default=SETUP)
    a = ap.parse_args()
    QXPACK, STUB, FLOOR, SETUP = a.qxpack, a.stub, a.floor, a.setup
    if shutil.which("makensis") is None:
        log("makensis is missing (Debian package nsis): skipped")
        return 77
    if a.tiny:
        a.runs, a.no_large = 1, True
    if not a.no_build:
        build(a.work)
        if a.profile:
            build_profile_stub()
    os.makedirs(a.work, exist_ok=True)
    env = wine_env(a.wine_root)
    temp = prepare_prefix(env, a.wine_root)
    for path in leftovers(temp):
        shutil.rmtree(path, ignore_errors=True)

    name = "tiny" if a.tiny else "57mb"
    log("product %s" % name)
    folder = make_product(a.work, name)
    files = PRODUCTS[name][1]
    product_bytes = sum(os.path.getsize(p) for p in glob.glob(os.path.join(folder, "files", "*")))
    stub_installer, nsis_installer, qx_time, nsis_time = make_installers(folder)
    entries = contestants(stub_installer, nsis_installer)
    results = measure(entries, a.runs, env, temp, files)

    phases = profile(folder, a.runs, env, temp, files) if a.profile else None

    large = None
    if not a.no_large:
        log("product 200mb (stub only, memory)")
        big = make_product(a.work, "200mb")
        big_stub, _, _, _ = make_installers(big)
        big_results = measure([("stub", [LOADER, big_stub])], 1, env, temp, PRODUCTS["200mb"][1])
        large = (big_results["stub"]["peak"][0], big_results["stub"]["wall"][0],
                 os.path.getsize(big_stub),
                 sum(os.path.getsize(p) for p in glob.glob(os.path.join(big, "files", "*"))))

    sizes = {"stub": os.path.getsize(stub_installer), "floor": os.path.getsize(stub_installer),
             "nsis": os.path.getsize(nsis_installer)}
    median = {n: statistics.median(r["wall"]) for n, r in results.items()}
    print("product: %d files, %s (%s)" % (files, mb(product_bytes), name))
    print("%d runs each, alternating, 64-bit Wine, output to /dev/null" % a.runs)
    print()
    print("| contestant | wall median | min | max | peak memory | installer |")
    print("|---|---|---|---|---|---|")
    for n, r in results.items():
        print("| %s | %.3f s | %.3f s | %.3f s | %.1f MB | %s |" % (
            n, median[n], min(r["wall"]), max(r["wall"]), max(r["peak"]) / 1024, mb(sizes[n])))
    print()
    print("| ratio | value |")
    print("|---|---|")
    print("| stub / floor (wall, medians) | %.2f |" % (median["stub"] / median["floor"]))
    print("| stub / nsis (wall, medians) | %.2f |" % (median["stub"] / median["nsis"]))
    print("| stub installer / nsis installer (size) | %.3f |" % (sizes["stub"] / sizes["nsis"]))
    print("| qxpack build / makensis (time) | %.2f s / %.2f s = %.2f |" % (
        qx_time, nsis_time, qx_time / nsis_time))
    print("| stub peak memory, %s product | %.1f MB |" % (name, max(results["stub"]["peak"]) / 1024))
    if large:
        print("| stub peak memory, 200 MB product (%s, installer %s, %.2f s) | %.1f MB |" % (
            mb(large[3]), mb(large[2]), large[1], large[0] / 1024))
    if phases:
        print()
        print("| stub phase (profiling build, median of %d runs) | ms | peak memory at its end |"
              % a.runs)
        print("|---|---|---|")
        for name, (ms, peak) in phases.items():
            print("| %s | %.1f | %.1f MB |" % (name, ms, peak))
        print("| sum | %.1f | |" % sum(ms for ms, _ in phases.values()))


if __name__ == "__main__":
    sys.exit(main())

