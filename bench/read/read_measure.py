#!/usr/bin/env python3
"""Read measurements on one mounted folder; prints one number per call.

  read_measure.py seq FILE                 sequential read, MB/s (1 MiB reads)
  read_measure.py ttfb FILE [FILE ...]     open and first 4 KiB per file: "median p90" in ms
  read_measure.py random FILE COUNT SEED   random 64 KiB reads at 4 KiB-aligned offsets, reads/s
  read_measure.py video FILE COUNT SEED    COUNT runs of 4 MiB (1 MiB reads), each after a seek
                                           to a 4 KiB-aligned offset, MB/s
"""
import os
import random
import sys
import time


def sequential(path):
    fd = os.open(path, os.O_RDONLY)
    total = 0
    start = time.perf_counter()
    while True:
        block = os.read(fd, 1 << 20)
        if not block:
            break
        total += len(block)
    elapsed = time.perf_counter() - start
    os.close(fd)
    print(f"{total / elapsed / 1e6:.1f}")


def first_bytes(paths):
    times = []
    for path in paths:
        start = time.perf_counter()
        fd = os.open(path, os.O_RDONLY)
        data = os.read(fd, 4096)
        times.append((time.perf_counter() - start) * 1000.0)
        os.close(fd)
        if len(data) != 4096:
            sys.exit(f"short first read of {path}")
    times.sort()
    median = times[len(times) // 2]
    p90 = times[min(len(times) - 1, int(len(times) * 0.9))]
    print(f"{median:.3f} {p90:.3f}")


def random_reads(path, count, seed):
    size = os.path.getsize(path)
    rng = random.Random(seed)
    slots = (size - 65536) // 4096
    offsets = [rng.randrange(slots) * 4096 for _ in range(count)]
    fd = os.open(path, os.O_RDONLY)
    start = time.perf_counter()
    for offset in offsets:
        if len(os.pread(fd, 65536, offset)) != 65536:
            sys.exit("short random read")
    elapsed = time.perf_counter() - start
    os.close(fd)
    print(f"{count / elapsed:.1f}")


def video(path, count, seed):
    size = os.path.getsize(path)
    rng = random.Random(seed)
    run = 4 << 20
    offsets = [rng.randrange((size - run) // 4096) * 4096 for _ in range(count)]
    fd = os.open(path, os.O_RDONLY)
    total = 0
    start = time.perf_counter()
    for offset in offsets:
        for step in range(0, run, 1 << 20):
            block = os.pread(fd, 1 << 20, offset + step)
            if len(block) != 1 << 20:
                sys.exit("short video read")
            total += len(block)
    elapsed = time.perf_counter() - start
    os.close(fd)
    print(f"{total / elapsed / 1e6:.1f}")


def main():
    what = sys.argv[1]
    if what == "seq":
        sequential(sys.argv[2])
    elif what == "ttfb":
        first_bytes(sys.argv[2:])
    elif what == "random":
        random_reads(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif what == "video":
        video(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
