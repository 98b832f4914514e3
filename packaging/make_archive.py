#!/usr/bin/env python3
"""Makes the kit's archive from the files gathered in a folder, with
SHA256SUMS beside them.

    make_archive.py STAGE ARCHIVE.zip

The archive depends on the files' contents alone: names in sorted order,
one fixed date, no owner, permissions or access times (which cmake -E tar
would copy into the zip from the file system).
"""

import hashlib
import os
import sys
import zipfile

FIXED_DATE = (2020, 1, 1, 0, 0, 0)


def write_sums(stage, names):
    lines = []
    for name in names:
        with open(os.path.join(stage, name), "rb") as f:
            lines.append(f"{hashlib.sha256(f.read()).hexdigest()}  {name}\n")
    with open(os.path.join(stage, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as f:
        f.writelines(lines)


def write_archive(stage, names, archive):
    with zipfile.ZipFile(archive, "w") as out:
        for name in names:
            entry = zipfile.ZipInfo(name, FIXED_DATE)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0  # MS-DOS: plain attributes, as Windows expects
            entry.external_attr = 0
            with open(os.path.join(stage, name), "rb") as f:
                out.writestr(entry, f.read())


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: make_archive.py STAGE ARCHIVE.zip\n")
        return 2
    stage, archive = argv[1], argv[2]
    names = sorted(name for name in os.listdir(stage) if name != "SHA256SUMS")
    write_sums(stage, names)
    write_archive(stage, sorted(names + ["SHA256SUMS"]), archive)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
