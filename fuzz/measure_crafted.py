#!/usr/bin/env python3
"""Time and peak memory of qxpack on three crafted inputs against a valid
input of the same size: a "_SG2" record of junk characters (inspect), a
chain of empty attachments (inspect) and an inner bundle whose one record
holds only zero-length chunks (list).

Usage: measure_crafted.py --qxpack PATH --keys DIR [--work DIR] [--big]
--big adds the 64 MB zero-length-chunk bundle."""
import argparse
import hashlib
import os
import re
import selectors
import struct
import subprocess
import sys
import tempfile
import time

MASK = 0xA7


def attachment(kind, data):
    """Data masked with 0xA7, then the 28-byte trailer."""
    masked = bytes(b ^ MASK for b in data)
    return masked + hashlib.md5(data).digest() + struct.pack("<I", len(data)) + kind + b"ABD2"


class Scrambler:
    """The inner bundle's table-mode map, as the writer applies it."""

    def __init__(self, key):
        a = len(key) // 4
        self.tables = [key[2 * a:3 * a], key[a:2 * a], key[3 * a:], key[:a]]
        self.pos = [0, 0, 0, 0]
        self.index = 0

    def scramble(self, plain):
        out = bytearray(len(plain))
        for j, p in enumerate(plain):
            if p & 1:
                self.index = (self.index + 1) & 3
            t = self.tables[self.index]
            out[j] = p ^ (t[self.pos[self.index]] & 0xFE)
            self.pos[self.index] = (self.pos[self.index] + 1) % len(t)
        return bytes(out)

    def zeros(self, n):
        """n zero bytes at once: they stay on the current table."""
        t = self.tables[self.index]
        p = self.pos[self.index]
        cycle = bytes(b & 0xFE for b in t[p:] + t[:p])
        self.pos[self.index] = (p + n) % len(t)
        return (cycle * (n // len(cycle) + 1))[:n]


def empty_chunk_bundle(key, chunks):
    """One record "a" of `chunks` chunks, each 0 stored and 0 plain bytes, and
    a well-formed signature block whose certificate is refused, so the records
    are walked for the digest alone."""
    s = Scrambler(key)
    body = b"QXBUNDLE!\r\n\x00\x01" + struct.pack("<III", 1, 0, 0)
    body += s.scramble(struct.pack("<I", 1) + b"a" + struct.pack("<I", chunks))
    body += s.zeros(8 * chunks + 4)  # the chunk lengths and the end marker
    certificate = b"XXXX" + bytes(12)
    block = struct.pack("<i", 0) * 3 + struct.pack("<i", len(certificate)) + certificate
    return body + block + struct.pack("<I", len(block)) + b"QXSG" + bytes(20)


def run_once(argv):
    """(CPU s, wall s, peak kB, exit code) of one run of a command; standard
    output goes through a pipe, as when a person reads it. CPU time (user +
    system) is the steadier figure on a busy machine."""
    # wait4 gives the CPU time to the microsecond (`time` rounds it to
    # 10 ms); `time` gives the peak of the command itself (a child forked
    # from this script would start with the script's own peak).
    start = time.perf_counter()
    p = subprocess.Popen(["/usr/bin/time", "-f", "PEAK %M"] + argv, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    # Both pipes are drained a megabyte at a time as soon as they hold
    # anything: a slow reader would make the command wait on a full pipe,
    # and the switches that costs would count as the command's own time.
    err_fd = p.stderr.fileno()
    out = {p.stdout.fileno(): bytearray(), err_fd: bytearray()}
    with selectors.DefaultSelector() as sel:
        for fd in out:
            sel.register(fd, selectors.EVENT_READ)
        while sel.get_map():
            for key, _ in sel.select():
                piece = os.read(key.fd, 1 << 20)
                if piece:
                    out[key.fd] += piece
                else:
                    sel.unregister(key.fd)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - start
    p.stdout.close()
    p.stderr.close()
    peak = int(re.search(rb"PEAK ([0-9]+)", bytes(out[err_fd])).group(1))
    return (usage.ru_utime + usage.ru_stime, wall, peak, os.waitstatus_to_exitcode(status))


def compare(label, crafted_cmd, valid_cmd, size, runs=9):
    # The two commands alternate, so a change in the machine's load falls on
    # both alike; each figure is the run of median CPU time.
    crafted, valid = [], []
    for _ in range(runs):
        crafted.append(run_once(crafted_cmd))
        valid.append(run_once(valid_cmd))
    median = lambda rs: sorted(rs)[len(rs) // 2]
    c_cpu, c_wall, c_peak, c_code = median(crafted)
    v_cpu, v_wall, v_peak, v_code = median(valid)
    print("%-42s %5.1f MB | crafted %5.3f s wall %5.3f s CPU %6.1f MB (exit %d)"
          " | valid %5.3f s wall %5.3f s CPU %6.1f MB (exit %d) | CPU ratio %.1f, memory ratio %.2f"
          % (label, size / 1e6, c_wall, c_cpu, c_peak / 1024, c_code, v_wall, v_cpu,
             v_peak / 1024, v_code, c_cpu / max(v_cpu, 1e-6), c_peak / v_peak))
    sys.stdout.flush()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--qxpack", required=True)
    p.add_argument("--keys", required=True)
    p.add_argument("--work", default="/dev/shm")
    p.add_argument("--big", action="store_true")
    a = p.parse_args()
    q = a.qxpack
    with tempfile.TemporaryDirectory(dir=a.work) as d:
        path = lambda n: os.path.join(d, n)

        # 1. "_SG2" of junk characters against a signed file of the same size.
        junk = write(path("sg2-junk"), attachment(b"_SG2", b"x" * 1000000))
        size = os.path.getsize(junk)
        signed = write(path("sg2-valid"), os.urandom(size - 1063))
        subprocess.run([q, "sign", signed, "--keys", a.keys], check=True, stdout=subprocess.DEVNULL)
        compare("inspect: _SG2 of 1,000,000 junk characters", [q, "inspect", junk],
                [q, "inspect", signed], size)

        # 2. 100,000 empty attachments against one attachment of the same size.
        empties = write(path("chain-empty"), attachment(b"EMPT", b"") * 100000)
        size = os.path.getsize(empties)
        one = write(path("chain-valid"), attachment(b"LOAD", os.urandom(size - 28)))
        compare("inspect: 100,000 empty attachments", [q, "inspect", empties],
                [q, "inspect", one], size)

        # 3. Zero-length chunks against a signed bundle of random data.
        with open(os.path.join(a.keys, "bundle-key.bin"), "rb") as f:
            key = f.read()
        script = write(path("script"), b"x\n")
        counts = [1000000] + ([8000000] if a.big else [])
        for chunks in counts:
            crafted = write(path("ibnd-empty"), empty_chunk_bundle(key, chunks))
            size = os.path.getsize(crafted)
            data = write(path("data"), os.urandom(size - 700))
            valid = path("ibnd-valid")
            subprocess.run([q, "inner", "-o", valid, "--keys", a.keys, "--script", script,
                            "data=" + data], check=True, stdout=subprocess.DEVNULL)
            compare("list: one record of %d zero-length chunks" % chunks, [q, "list", crafted],
                    [q, "list", valid], size)
            os.remove(crafted)
            os.remove(valid)
            os.remove(data)


if __name__ == "__main__":
    main()
