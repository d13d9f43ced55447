#!/usr/bin/env python3
"""Writes a demo game folder and the new release that fernup-pack packs for it.

usage: make-demo.py ROOT BASE_URL
       make-demo.py --check ROOT


ROOT/game         the installed game: update.log (version 1.00), old data files
ROOT/release-1.01 the new release's files as they are installed
ROOT/readme.txt   the release notes (Shift-JIS)

The package itself (ROOT/www/demo, served at BASE_URL) is written by
fernup-pack build, as a publisher writes it.

--check tells whether ROOT/game holds the update: every listed file installed
byte for byte and update.log at the package's version; exits 1 if not.
"""
import os
import sys

TITLE = "フェルンの冒険"


def sjis(text):
    return text.encode("cp932")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    root, base_url = sys.argv[1], sys.argv[2]
    game = os.path.join(root, "game")

    write(os.path.join(game, "update.log"), sjis(
        "[GAME_UPDATE]\r\nURL=%s\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\n"
        "UPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=%s\r\n" % (base_url, TITLE)))
    write(os.path.join(game, "data", "map01.dat"), b"old map\r\n" * 100)
    write(os.path.join(game, "game.ini"), b"[GAME]\r\nLEVEL=1\r\n")

    release = os.path.join(root, "release-1.01")
    write(os.path.join(release, "data", "map01.dat"), bytes(range(256)) * 4096)
    write(os.path.join(release, "data", "music.ogg"), os.urandom(12 * 1024 * 1024))
    write(os.path.join(release, "game.ini"), b"[GAME]\r\nLEVEL=2\r\n")
    write(os.path.join(root, "readme.txt"), sjis(
        "フェルンの冒険 修正ファイル ver.1.01\r\n\r\n・マップ01の不具合を修正しました。\r\n"
        "・BGMを追加しました。\r\n"))


def check(root):
    game = os.path.join(root, "game")
    www = os.path.join(root, "www", "demo")
    with open(os.path.join(www, "update.qdv"), "rb") as f:
        definition = f.read().decode("cp932").split("\r\n")
    version = next(l[4:] for l in definition if l.startswith("VER="))
    faults = []
    for line in definition:
        if not line.startswith("FILE"):
            continue
        source, target = line.split("=", 1)[1].split(",")[:2]
        with open(os.path.join(www, *source.split("/")), "rb") as f:
            wanted = f.read()
        installed = os.path.join(game, *target.split("\\"))
        try:
            with open(installed, "rb") as f:
                same = f.read() == wanted
        except OSError:
            same = False
        if not same:
            faults.append("%s is not the update's file" % target)
    with open(os.path.join(game, "update.log"), "rb") as f:
        log = f.read().decode("cp932")
    if "UPDATE_VER=%s\r\n" % version not in log:
        faults.append("update.log does not record version %s" % version)
    for fault in faults:
        print("demo: %s" % fault, file=sys.stderr)
    if faults:
        return 1
    print("demo: every file of version %s is installed and recorded" % version)
    return 0


if __name__ == "__main__":
    if sys.argv[1] == "--check":
        sys.exit(check(sys.argv[2]))
    main()
