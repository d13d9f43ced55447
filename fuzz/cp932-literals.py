#!/usr/bin/env python3
"""Copies a UTF-8 C++ source with every non-ASCII character written as the
octal escapes of its Shift-JIS (code page 932) bytes.

usage: cp932-literals.py SOURCE OUTPUT

clang reads sources as UTF-8 and has no -fexec-charset for code page 932, so
the fuzz build compiles such copies to get the same literal bytes as the g++
builds. Octal escapes, not raw bytes: a trail byte 0x5C would otherwise end up
as a backslash inside the literal. In comments the escapes are harmless.
"""
import os
import re
import sys

# Characters that g++'s iconv writes to the same code as a neighbour but that
# Python's cp932 codec refuses: WAVE DASH and MINUS SIGN.
SAME_AS = {"\u301c": "\uff5e", "\u2212": "\uff0d"}


def escape(ch):
    data = SAME_AS.get(ch, ch).encode("cp932")
    return "".join("\\%03o" % b for b in data)


def main():
    source, output = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    # Escapes mean nothing inside raw strings; refuse rather than differ.
    raw = re.compile(r'(?<![A-Za-z0-9_])(?:u8|u|U|L)?R"')
    for line in text.splitlines():
        if raw.search(line) and any(ord(c) > 127 for c in line):
            sys.exit("%s: non-ASCII text in a raw string literal" % source)
    out = "".join(c if ord(c) < 128 else escape(c) for c in text)
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "w", encoding="ascii", newline="") as f:
        f.write(out)


if __name__ == "__main__":
    main()
