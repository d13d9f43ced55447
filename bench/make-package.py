#!/usr/bin/env python3
"""Writes an update package for the benchmarks, and a game folder to update.

usage: make-package.py PACKAGE_FOLDER GAME_FOLDER BASE_URL
           [--large-mib N] [--medium N] [--small N] [--rows-only N] [--seed N] [--installed]

PACKAGE_FOLDER gets update.qdv, MD5.txt, readme.txt and the files, each named
as the last component of its target path, so that the same folder serves as
the online package (under BASE_URL) and as the offline one. GAME_FOLDER gets
an update.log at version 1.00 pointing at BASE_URL and the folders that the
target paths name; with --installed also an older version of every file (as
large, other bytes), so that the update replaces files as it would in a game.
Also writes PACKAGE_FOLDER/sums.txt ("md5  name" lines for md5sum -c) and
PACKAGE_FOLDER/urls.txt (a curl config).

--rows-only N writes a definition of N files without the files themselves,
for timing the dialog's file list.
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
    parser.add_argument("package")
    parser.add_argument("game")
    parser.add_argument("base_url")
    parser.add_argument("--large-mib", type=int, default=64)
    parser.add_argument("--medium", type=int, default=100)
    parser.add_argument("--small", type=int, default=400)
    parser.add_argument("--rows-only", type=int, default=0)
    parser.add_argument("--seed", type=int, default=8)
    parser.add_argument("--installed", action="store_true")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    os.makedirs(args.package, exist_ok=True)
    # (name, target folder, size)
    files = []
    if args.rows_only:
        for n in range(1, args.rows_only + 1):
            files.append((f"r{n:03d}.bin", "data\\", rng.randint(1, 4 << 20)))
    else:
        files.append(("large.bin", "data\\", args.large_mib << 20))
        for n in range(1, args.medium + 1):
            files.append((f"m{n:03d}.bin", "data\\", rng.randint(256 << 10, 1 << 20)))
        for n in range(1, args.small + 1):
            files.append((f"s{n:03d}.bin", "data\\small\\", rng.randint(1, 16 << 10)))

    lines = ["[UPDATE_VER]", f"NAME={TITLE}", "VER=1.01", "DAY=2024/06/01", "[UPDATE_FILE]"]
    sums = []
    urls = []
    for index, (name, folder, size) in enumerate(files, start=1):
        if args.rows_only:
            digest = hashlib.md5(name.encode()).hexdigest()
        else:
            digest = write_random(os.path.join(args.package, name), size, rng)
            if args.installed:
                folder_path = os.path.join(args.game, *folder.strip("\\").split("\\"))
                os.makedirs(folder_path, exist_ok=True)
                write_random(os.path.join(folder_path, name), size, rng)
            sums.append(f"{digest}  {name}")
            urls.append(f'url = "{args.base_url}{name}"\noutput = "{name}"')
        lines.append(f"FILE{index:03d}={name},{folder}{name},{size},{digest}")

    definition = ("\r\n".join(lines) + "\r\n").encode("ascii")
    with open(os.path.join(args.package, "update.qdv"), "wb") as out:
        out.write(definition)
    with open(os.path.join(args.package, "MD5.txt"), "w") as out:
        out.write(hashlib.md5(definition).hexdigest())
    with open(os.path.join(args.package, "readme.txt"), "wb") as out:
        out.write(b"benchmark package\r\n")
    if not args.rows_only:
        with open(os.path.join(args.package, "sums.txt"), "w") as out:
            out.write("\n".join(sums) + "\n")
        with open(os.path.join(args.package, "urls.txt"), "w") as out:
            out.write("\n".join(urls) + "\n")

    for folder in {folder for _, folder, _ in files}:
        os.makedirs(os.path.join(args.game, *folder.strip("\\").split("\\")), exist_ok=True)
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
