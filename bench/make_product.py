#!/usr/bin/env python3
"""Writes the benchmark's reference product: a folder of files and a product
description for `qxpack build`, the same bytes on every run (seeded PRNG, no
downloaded data).

Half the files are text-like (words drawn from a skewed vocabulary, so they
compress about as well as source code or logs), half are random bytes (they do
not compress at all). Sizes are spread log-uniformly between 1 KiB and 4 MiB
and then scaled together until the product reaches the requested total.

    make_product.py OUT_DIR --total-mb 57 --files 200 --setup SETUP.exe --stub STUB.exe --keys DIR
"""
import argparse
import json
import math
import os
import random

MIN_SIZE = 1024
MAX_SIZE = 4 * 1024 * 1024


def file_sizes(rng, count, total):
    raw = [math.exp(rng.uniform(math.log(MIN_SIZE), math.log(MAX_SIZE))) for _ in range(count)]
    sizes = raw
    # Scale towards the total; clamping moves the sum, so repeat a few times.
    for _ in range(30):
        factor = total / sum(sizes)
        sizes = [min(MAX_SIZE, max(MIN_SIZE, s * factor)) for s in sizes]
    return [int(s) for s in sizes]


def text_source(rng):
    letters = "etaoinshrdlcumwfgypbvkjxqz"
    weights = [12, 9, 8, 8, 7, 7, 6, 6, 6, 4, 4, 3, 3, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1]
    vocabulary = ["".join(rng.choices(letters, weights, k=rng.randint(2, 10))) for _ in range(4000)]
    rank_weights = [1.0 / (r + 1) for r in range(len(vocabulary))]
    lines = []
    for _ in range(20000):
        indent = " " * (4 * rng.randint(0, 3))
        words = rng.choices(vocabulary, rank_weights, k=rng.randint(3, 14))
        lines.append(indent + " ".join(words) + rng.choice([";", ",", ".", ":", " {", " }", ""]) + "\n")
    return lines


def text_bytes(rng, lines, size):
    out = []
    have = 0
    while have < size:
        piece = "".join(rng.choices(lines, k=256)).encode()
        out.append(piece)
        have += len(piece)
    return b"".join(out)[:size]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--total-mb", type=float, default=57)
    ap.add_argument("--files", type=int, default=200)
    ap.add_argument("--seed", type=int, default=11)
    ap.add_argument("--setup", required=True)
    ap.add_argument("--stub", required=True)
    ap.add_argument("--keys", required=True)
    ap.add_argument("--type", default="silent")
    a = ap.parse_args()

    rng = random.Random(a.seed)
    sizes = file_sizes(rng, a.files, a.total_mb * 1000 * 1000)
    lines = text_source(rng)
    files_dir = os.path.join(a.out, "files")
    os.makedirs(files_dir, exist_ok=True)
    entries = []
    for i, size in enumerate(sizes):
        compressible = i % 2 == 0
        name = "f%03d.%s" % (i, "txt" if compressible else "bin")
        data = text_bytes(rng, lines, size) if compressible else rng.randbytes(size)
        with open(os.path.join(files_dir, name), "wb") as f:
            f.write(data)
        entries.append({"file": "files/" + name, "record": name,
                        "tag": "dep-gui-silent", "destination": name})
    product = {
        "stub": os.path.abspath(a.stub),
        "setup": os.path.abspath(a.setup),
        "type": a.type,
        "keys": os.path.abspath(a.keys),
        "output": "installer.exe",
        "files": entries,
    }
    with open(os.path.join(a.out, "product.json"), "w") as f:
        json.dump(product, f, indent=1)
    print("%s: %d files, %.1f MB" % (a.out, len(sizes), sum(sizes) / 1e6))


if __name__ == "__main__":
    main()
