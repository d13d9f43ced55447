#!/usr/bin/env python3
"""Writes the release that the benchmarks' packages are built from, and a game
folder to update. The packages themselves are built by fernup-pack.

usage: make-package.py RELEASE_FOLDER GAME_FOLDER BASE_URL
           [--large-mib N] [--medium N] [--small N] [--rows-only N] [--seed N]
           [--installed] [--lists FOLDER]

RELEASE_FOLDER gets the new release's files as the game holds them. GAME_FOLDER
gets an update.log at version 1.00 pointing at BASE_URL and the folders that
the files lie in; with --installed also an older version of every file (as
large, other bytes), so that the update replaces files as it would in a game.
--lists FOLDER gets sums.txt, what the reference pipeline checks with md5sum -c
("md5  name" lines, by the file's name alone). Where each file is fetched
from is for fernup-pack to say: its definition lists the addresses.

--rows-only N writes N small files (1 byte to 16 KiB), for timing the dialog's
file list: what a row costs does not depend on the size it shows.
"""
import argparse
import hashlib
import os
import random

TITLE = "Quill"
CHUNK = 16 << 20


def write_random(path, size, rng):
    """Writes size random bytes to path, in chunks; returns their MD5 text."""
    digest = hashlib.md5()
    with open(path, "wb") as out:
        left = size
        while left > 0:
            data = rng.randbytes(min(left, CHUNK))
            digest.update(data)
            out.write(data)
            left -= len(data)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("release")
    parser.add_argument("game")
    parser.add_argument("base_url")
    parser.add_argument("--large-mib", type=int, default=64)
    parser.add_argument("--medium", type=int, default=100)
    parser.add_argument("--small", type=int, default=400)
    parser.add_argument("--rows-only", type=int, default=0)
    parser.add_argument("--seed", type=int, default=8)
    parser.add_argument("--installed", action="store_true")
    parser.add_argument("--lists")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    # (name, folder under the game folder, size)
    files = []
    if args.rows_only:
        for n in range(1, args.rows_only + 1):
            files.append((f"r{n:03d}.bin", "data", rng.randint(1, 16 << 10)))
    else:
        files.append(("large.bin", "data", args.large_mib << 20))
        for n in range(1, args.medium + 1):
            files.append((f"m{n:03d}.bin", "data", rng.randint(256 << 10, 1 << 20)))
        for n in range(1, args.small + 1):
            files.append((f"s{n:03d}.bin", "data/small", rng.randint(1, 16 << 10)))

    sums = []
    for name, folder, size in files:
        os.makedirs(os.path.join(args.release, folder), exist_ok=True)
        os.makedirs(os.path.join(args.game, folder), exist_ok=True)
        digest = write_random(os.path.join(args.release, folder, name), size, rng)
        if args.rows_only:
            continue
        if args.installed:
            write_random(os.path.join(args.game, folder, name), size, rng)
        sums.append(f"{digest}  {name}")

    if args.lists:
        os.makedirs(args.lists, exist_ok=True)
        with open(os.path.join(args.lists, "sums.txt"), "w") as out:
            out.write("\n".join(sums) + "\n")

    with open(os.path.join(args.game, "update.log"), "wb") as out:
        out.write(
            (
                f"[GAME_UPDATE]\r\nURL={args.base_url}\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\n"
                f"UPDATE_DAY=2024/01/01\r\nUPDATE_TITLE={TITLE}\r\n"
            ).encode("ascii")
        )
    print(f"{len(files)} files, {sum(size for _, _, size in files)} bytes")


if __name__ == "__main__":
    main()
