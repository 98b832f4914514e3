#!/usr/bin/env python3
"""Writes a UTF-8 text as Windows users read it: Windows-1251, CRLF lines.

    to_cp1251.py INPUT OUTPUT

A character that Windows-1251 lacks is an error, not a question mark.
"""

import sys


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: to_cp1251.py INPUT OUTPUT\n")
        return 2
    with open(argv[1], encoding="utf-8") as source:
        lines = source.read().splitlines()
    try:
        data = "".join(line + "\r\n" for line in lines).encode("cp1251")
    except UnicodeEncodeError as error:
        sys.stderr.write(f"{argv[1]}: not in Windows-1251: {error}\n")
        return 1
    with open(argv[2], "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
