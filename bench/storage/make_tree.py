#!/usr/bin/env python3
"""Creates the benchmark tree on disk: ENTRIES nodes below FOLDER, one in ten a folder,
folders nested up to DEPTH levels, files of a few bytes (every file non-empty, so the drive
shows all of them).  usage: make_tree.py FOLDER [ENTRIES=100000] [DEPTH=10]"""
import os
import sys


def main():
    top = sys.argv[1]
    entries = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    depth = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    folders = entries // 10
    paths = [top]
    level = [0]
    for i in range(1, folders + 1):
        parent = i // 3
        if parent >= 1 and level[parent] >= depth:
            parent = 0
        level.append(1 if parent == 0 else level[parent] + 1)
        path = os.path.join(paths[parent], "folder %d" % i)
        os.makedirs(path, exist_ok=True)
        paths.append(path)
    for j in range(folders + 1, entries + 1):
        parent = 1 + j % folders
        with open(os.path.join(paths[parent], "file %d.dat" % j), "wb") as out:
            out.write(b"x" * (1 + j % 64))
    print("made %d folders and %d files, depth %d" % (folders, entries - folders, max(level)))


if __name__ == "__main__":
    main()
