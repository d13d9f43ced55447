#!/usr/bin/env python3
"""Writes the releases of the block benchmark (scripts/bench-blocks.sh).

usage: make-blocks.py FOLDER [--mib N] [--seed S]

FOLDER/old/data/archive.pak is the installed version: N MiB of random bytes,
as an archive of compressed game data looks. Beside it, four newer releases,
each FOLDER/<case>/data/archive.pak:
  a  64 scattered edits of 4 KiB (at random offsets, random new bytes)
  b  1 KiB inserted 64 KiB from the start
  c  4 MiB appended
  d  entirely new contents of the same size
"""
import argparse
import os
import random


def random_bytes(rng, count):
    """count random bytes, made in pieces: one call makes at most 256 MiB of bits."""
    piece = 16 << 20
    return b"".join(rng.randbytes(min(piece, count - at)) for at in range(0, count, piece))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--seed", type=int, default=24)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    size = args.mib << 20
    old = random_bytes(rng, size)
    write(os.path.join(args.folder, "old", "data", "archive.pak"), old)

    edited = bytearray(old)
    # One edit in each 64th of the file, at a random place in it: scattered,
    # never overlapping.
    span = size // 64
    for i in range(64):
        at = i * span + rng.randrange(span - 4096)
        edited[at:at + 4096] = rng.randbytes(4096)
    cases = {
        "a": bytes(edited),
        "b": old[:65536] + rng.randbytes(1024) + old[65536:],
        "c": old + random_bytes(rng, 4 << 20),
        "d": random_bytes(rng, size),
    }
    for name, data in cases.items():
        write(os.path.join(args.folder, name, "data", "archive.pak"), data)
    print(f"old {size} bytes; " + ", ".join(f"{n} {len(d)}" for n, d in cases.items()))


if __name__ == "__main__":
    main()
