#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

usage: make-corpus.py [FOLDER]   (default: the corpus folder beside this file)

The seeds are real definitions, update.log files and check lists as the
program meets them, laid out the way each target reads its input through
libFuzzer's FuzzedDataProvider: texts from the front, numbers from the back.
"""
import hashlib
import os
import sys


def sjis(text):
    return text.encode("cp932")


def md5(data):
    return hashlib.md5(data).hexdigest()


class Provider:
    """Builds the bytes that a FuzzedDataProvider reads back as given."""

    def __init__(self):
        self.front = bytearray()
        self.back = []  # in the order they are consumed

    def string(self, data):
        # A backslash is doubled; a backslash and one more byte end the text.
        self.front += data.replace(b"\\", b"\\\\") + b"\\ "

    def integral(self, value, low, high):
        span, result, count = high - low, value - low, 0
        while (span >> (8 * count)) > 0 and count < 8:
            count += 1
        self.back += list(result.to_bytes(count, "big")) if count else []

    def boolean(self, value):
        self.integral(1 if value else 0, 0, 255)

    def rest(self, data):
        self.front += data

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


TITLE = "フェルンの冒険"


def definition(version, files, name=TITLE, day="2026/12/07", extra=""):
    lines = ["[UPDATE_VER]", "NAME=" + name, "VER=" + version, "DAY=" + day, "[UPDATE_FILE]"]
    for n, (source, target, content) in enumerate(files, 1):
        lines.append("FILE%03d=%s,%s,%d,%s" % (n, source, target, len(content), md5(content)))
    return sjis("\r\n".join(lines) + "\r\n" + extra)


DEMO_FILES = [
    ("files/map01.dat", "data\\map01.dat", bytes(range(256)) * 16),
    ("files/music.ogg", "data\\music.ogg", b"OggS" + bytes(300)),
    ("files/game.ini", "game.ini", b"[GAME]\r\nLEVEL=2\r\n"),
]

DEFINITIONS = {
    "demo.qdv": definition("1.01", DEMO_FILES),
    "same-version.qdv": definition("1.00", DEMO_FILES[:1]),
    "no-files.qdv": definition("1.02", []),
    "many-files.qdv": definition(
        "2.00", [("f/%d.bin" % i, "data\\f%d.bin" % i, bytes([i]) * i) for i in range(1, 40)]),
    "sjis-paths.qdv": definition(
        "1.10", [("ファイル/表示.dat", "データ\\表示.dat", b"x" * 10),
                 ("ソ/能.bin", "ソ\\能.bin", b"")]),
    "blanks-and-quotes.qdv": sjis(
        "[ UPDATE_VER ]\r\n NAME = \"%s\"\r\nVER= 1.05\r\nDAY=\"2026/12/07 ; noon\"\r\n"
        "[UPDATE_FILE]\r\nFILE 001 = a.dat,a.dat,3,%s\r\n\"FILE002\"=\"b,c\",b.dat,1,%s\r\n"
        % (TITLE, md5(b"abc"), md5(b"b"))),
    "odd-lines.qdv": sjis(
        "[UPDATE_VER]\r\nNAME=%s\r\nVER=-1\r\nDAY=x\r\n[UPDATE_FILE]\r\n"
        "FILE001=only-source\r\nFILE002=s,t,12abc,%s,fifth\r\nFILE003=s,t, -7,%s\r\n"
        "FILE005=after,a,gap,%s\r\nFILE004=%s\r\n"
        % (TITLE, md5(b""), md5(b"").upper(), md5(b""), "z" * 300)),
    "lf-only.qdv": b"[UPDATE_VER]\nNAME=Quill\nVER=1.01\nDAY=d\n",
    "update.log": sjis(
        "[GAME_UPDATE]\r\nURL=http://127.0.0.1:8080/demo/\r\n[UPDATE_INFO]\r\nUPDATE_VER=1.00\r\n"
        "UPDATE_DAY=2026/11/01\r\nUPDATE_TITLE=%s\r\n" % TITLE),
}

CHECK_VALUES = [
    b"data\\map01.dat:" + md5(b"map").encode(),
    b"DATA\\MAP01.DAT:" + md5(b"map2").encode(),
    sjis("データ\\表示.dat:") + md5(b"x").encode(),
    b"game.ini:",
    b"no-colon",
    b"a:b:" + md5(b"").encode(),
    b"x" * 70 + b":" + md5(b"long").encode(),
]

CHECK_LIST_FILE = sjis("[FILE_CHECK_LIST]\r\n") + b"".join(
    b"FILE%04d=" % (i + 1) + value + b"\r\n" for i, value in enumerate(CHECK_VALUES))


def check_list_seed(values, gaps, entries, crowded=False):
    p = Provider()
    p.integral(len(values), 0, 24)
    for value in values:
        p.string(value)
    p.integral(len(gaps), 0, 8)
    for gap in gaps:
        p.integral(gap, 0, 40)
    p.boolean(crowded)
    p.boolean(crowded)
    p.integral(len(entries), 0, 16)
    for target, digest in entries:
        p.string(target)
        p.boolean(False)
        p.string(digest)
    return p.bytes()


def definition_seed(text, line, title=0, version=0):
    p = Provider()
    p.integral(title, 0, 3)
    p.integral(version, 0, 5)
    p.string(line)
    p.rest(text)
    return p.bytes()


def format_seed(capacity, a, b, n, signed, digest):
    p = Provider()
    p.integral(capacity, 1, 300)
    p.boolean(True)
    p.string(a)
    p.string(b)
    p.integral(n, 0, 2**32 - 1)
    p.integral(signed, -2**31, 2**31 - 1)
    for byte in digest:
        p.integral(byte, 0, 255)
    p.integral(1234567, 0, 2**32 - 1)
    p.integral(9, -2, 40)
    p.string(a)
    return p.bytes()


def md5_seed(sizes, data):
    p = Provider()
    p.integral(len(sizes), 0, 64)
    for size in sizes:
        p.boolean(False)
        p.integral(size, 0, 300)
    p.rest(data)
    return p.bytes()


def block_index(data, shift):
    """A block index of data as fernup-pack writes it (core/BlockIndex.h)."""
    size = 1 << shift
    out = b"FBIX" + bytes([1, shift, 2, 3]) + len(data).to_bytes(4, "little")
    out += hashlib.md5(data).digest()
    for start in range(0, len(data), size):
        block = data[start:start + size]
        a = sum(block) & 0xFFFF
        b = sum((size - k) * x for k, x in enumerate(block)) & 0xFFFF
        weak = (((a | (b << 16)) * 0x9E3779B1) & 0xFFFFFFFF) >> 16
        out += weak.to_bytes(2, "little") + hashlib.md5(block).digest()[:3]
    return out


def block_seed(new, old, shift=10):
    """The block target's input: an index, then the older copy it is matched in."""
    return block_index(new, shift) + old


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    seeds = {"profile_text": {}, "definition_check": {}, "check_list": {}, "format_text": {},
             "md5": {}, "block_index": {}}
    for name, text in DEFINITIONS.items():
        seeds["profile_text"][name] = text
        seeds["definition_check"][name] = definition_seed(
            text, b"files/a.dat,data\\a.dat,12," + md5(b"a").encode(), 0, 0)
    seeds["profile_text"]["orvaCheck.cfg"] = CHECK_LIST_FILE
    seeds["definition_check"]["ascii-title"] = definition_seed(
        DEFINITIONS["lf-only.qdv"].replace(b"\n", b"\r\n"), b"1.10", 0, 1)

    updates = [(b"data\\map01.dat", md5(b"new").encode()), (b"new\\file.bin", md5(b"f").encode()),
               (b"GAME.INI", md5(b"ini").encode())]
    seeds["check_list"]["merge.bin"] = check_list_seed(CHECK_VALUES, [], updates)
    seeds["check_list"]["gap.bin"] = check_list_seed(CHECK_VALUES[:2], [3, 5], updates)
    seeds["check_list"]["empty.bin"] = check_list_seed([], [], updates[:1])
    seeds["check_list"]["crowded.bin"] = check_list_seed(CHECK_VALUES[:3], [], updates, True)

    digest = hashlib.md5(b"fernup").digest()
    seeds["format_text"]["labels.bin"] = format_seed(256, sjis(TITLE), b"2026/12/07", 7, 85, digest)
    seeds["format_text"]["cut.bin"] = format_seed(9, sjis("データ\\表示.dat"), b"x" * 40, 1000,
                                                  -2147483648, digest)
    seeds["format_text"]["url.bin"] = format_seed(
        128, b"http://127.0.0.1:8080/demo/", b"", 999, 100, bytes(16))

    seeds["md5"]["definition.bin"] = md5_seed([1, 63, 64, 65], DEFINITIONS["demo.qdv"])
    seeds["md5"]["blocks.bin"] = md5_seed([55, 56, 0, 120], bytes(range(256)) * 3)
    seeds["md5"]["empty.bin"] = md5_seed([], b"")

    base = bytes((i * 7 + i // 251) & 0xFF for i in range(5000))
    seeds["block_index"] = {
        "unchanged.bin": block_seed(base, base),
        "inserted.bin": block_seed(base[:1500] + b"new bytes" * 30 + base[1500:], base),
        "zeros.bin": block_seed(bytes(4096), bytes(6000)),
        "empty.bin": block_seed(b"", base[:100]),
        "one-block.bin": block_seed(base[:700], base[:800]),
    }

    for target, files in seeds.items():
        folder = os.path.join(root, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
