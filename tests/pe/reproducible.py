#!/usr/bin/env python3
"""Builds the shipped 32-bit kit twice, in two folders of different names
out of the source tree, and compares the programs and the archive byte for
byte: the same source must give the same files wherever it is built.

    reproducible.py --version 1.5 SOURCE_DIR
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def build(source, build_dir):
    toolchain = os.path.join(source, "cmake", "mingw-i686.cmake")
    subprocess.run(["cmake", "-S", source, "-B", build_dir, f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                    "-DCMAKE_BUILD_TYPE=MinSizeRel"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j", str(os.cpu_count() or 1),
                    "--target", "velkor", "unvelkor", "kit-archive"],
                   check=True, stdout=subprocess.DEVNULL)


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("source")
    options = parser.parse_args()
    source = os.path.abspath(options.source)
    outputs = ["velkor.exe", "unvelkor.exe", f"velkor-{options.version}-win32.zip"]

    top = tempfile.mkdtemp(prefix="velkor-reproducible-")
    try:
        folders = [os.path.join(top, "a"), os.path.join(top, "second", "build-folder")]
        for folder in folders:
            build(source, folder)
        different = 0
        for name in outputs:
            first, second = (open(os.path.join(folder, name), "rb").read() for folder in folders)
            if first == second:
                print(f"same       {name} ({len(first)} bytes)")
            else:
                different += 1
                print(f"DIFFERENT  {name}: {len(first)} and {len(second)} bytes, "
                      f"first difference at offset {first_difference(first, second):#x}")
        return 1 if different else 0
    finally:
        shutil.rmtree(top, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
