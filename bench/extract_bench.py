#!/usr/bin/env python3
"""havrek-pack extract against 7z x of a zip of the same tree.

A generated tree (text-like, executable-like and random files in nested
folders) is packed by havrek-pack at level 6 and by `zip -6 -r`; then each
archive is unpacked into a new empty folder, in turns (which goes first
alternates), and the best of --reps runs of each is compared:

    ratio = extract time / 7z x time       target: at most 1.1

Full run (about 200 MB):
    python3 bench/extract_bench.py build/native/tools/pack/havrek-pack
Quick run (what ctest does; reports only): --quick
Options: --size=MB --reps=N --dir=PATH --strict (exit 1 when the target is
missed). Exits 77 (skipped) when 7z or zip is not installed.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

TARGET = 1.1
WORDS = ("the setup file of a program is written into folder and run with its arguments when ready "
         "Windows version update agent package entry data").split()


def text_like(rng, n):
    out = []
    size = 0
    while size < n:
        w = rng.choice(WORDS) + ("\r\n" if rng.random() < 0.09 else " ")
        out.append(w)
        size += len(w)
    return "".join(out).encode()[:n]


def exe_like(rng, n):
    ops = (b"\x8b\x45", b"\x89\x44\x24", b"\xe8", b"\x83\xc4", b"\x55\x8b\xec", b"\xff\x15", b"\x33\xc0", b"\xc3")
    out = bytearray()
    while len(out) < n:
        out += rng.choice(ops)
        out += bytes(rng.getrandbits(8) for _ in range(rng.randint(0, 3)))
    return bytes(out[:n])


def make_tree(root, total, rng):
    """Files of 1 KB to a few MB in nested folders until total bytes."""
    made = 0
    i = 0
    # Made once per kind and cut into files: generating every byte anew
    # would take longer than the benchmark.
    pools = [text_like(rng, 4 << 20), exe_like(rng, 2 << 20), os.urandom(4 << 20)]
    while made < total:
        pool = pools[i % 3 if i % 7 else 2]
        size = min(int(rng.lognormvariate(10.5, 1.6)) + 1024, len(pool), total - made)
        start = rng.randint(0, len(pool) - size)
        folder = os.path.join(root, "d%d" % (i % 9), "s%d" % (i % 17))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.bin" % i), "wb") as f:
            f.write(pool[start:start + size])
        made += size
        i += 1
    return i


def timed(cmd):
    t0 = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - t0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("pack")
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--size", type=int, default=200, help="MB of files")
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--dir")
    ap.add_argument("--strict", action="store_true")
    a = ap.parse_args()
    if a.quick:
        a.size, a.reps = 16, 2
    missing = [tool for tool in ("7z", "zip") if not shutil.which(tool)]
    if missing:
        print("extract_bench: skipped: %s not installed (scripts/setup.sh installs p7zip-full and zip)"
              % " and ".join(missing))
        return 77
    work = tempfile.mkdtemp(prefix="havrek_extract_bench_", dir=a.dir)
    try:
        tree = os.path.join(work, "tree")
        stub = os.path.join(work, "stub.exe")
        with open(stub, "wb") as f:
            image = bytearray(4096)
            image[0:2] = b"MZ"
            image[256:260] = b"PE\0\0"
            f.write(image)
        count = make_tree(tree, a.size << 20, random.Random(11))
        setup = os.path.join(work, "setup.exe")
        archive = os.path.join(work, "tree.zip")
        pack_s = timed([a.pack, "build", "--stub", stub, "--out", setup, "--level", "6", "--dir", tree])
        zip_s = timed(["sh", "-c", 'cd "$1" && zip -q -6 -r "$2" .', "sh", tree, archive])
        ours, theirs = [], []
        for rep in range(a.reps):
            # Fresh folders and the writes of the run before on disk: a
            # file system that has just deleted or still flushes a tree
            # creates files slower, and either tool could pay for that.
            runs = [([a.pack, "extract", setup, os.path.join(work, "ours%d" % rep)], ours),
                    (["7z", "x", "-y", "-bd", "-o" + os.path.join(work, "7z%d" % rep), archive], theirs)]
            for cmd, times in runs if rep % 2 == 0 else reversed(runs):
                os.sync()
                times.append(timed(cmd))
        same = subprocess.run(["diff", "-r", tree, os.path.join(work, "ours0")],
                              stdout=subprocess.DEVNULL).returncode == 0
        ratio = min(ours) / min(theirs)
        print("extract_bench: %d files, %d MB; setup %.1f MB, zip %.1f MB (build %.2f s, zip %.2f s)"
              % (count, a.size, os.path.getsize(setup) / 2**20, os.path.getsize(archive) / 2**20, pack_s, zip_s))
        print("extract_bench: extract %.3f s, 7z x %.3f s: ratio %.2f (target <= %.1f)%s%s"
              % (min(ours), min(theirs), ratio, TARGET, "" if ratio <= TARGET else " MISSED",
                 "" if same else "; EXTRACTED TREE DIFFERS"))
        if not same:
            return 1
        return 1 if a.strict and ratio > TARGET else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
