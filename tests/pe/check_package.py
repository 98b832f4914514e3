#!/usr/bin/env python3
"""Checks the kit's archive, velkor-<version>-win32.zip, of a 32-bit build.

    check_package.py --version 1.5 BUILD_DIR
"""

import argparse
import hashlib
import os
import re
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pe  # noqa: E402

PROGRAMS = ["velkor.exe", "unvelkor.exe"]
SAMPLE_LIBRARIES = ["00195111.dll", "00195202.dll"]
COMPANIONS = ["bdeadmin.rus", "datapump.rus"]
CONTENTS = sorted(PROGRAMS + SAMPLE_LIBRARIES + COMPANIONS + ["readme.txt", "SHA256SUMS"])

options = None


def windows_text_problems(data):
    """Problems of a text meant for Windows users: Windows-1251, CRLF."""
    problems = []
    if b"\n" in data.replace(b"\r\n", b"") or b"\r" in data.replace(b"\r\n", b""):
        problems.append("a line that doesn't end in CRLF")
    if not data.endswith(b"\r\n"):
        problems.append("no CRLF at the end")
    try:
        data.decode("utf-8")
        if any(byte >= 0x80 for byte in data):
            problems.append("UTF-8, not Windows-1251")
    except UnicodeDecodeError:
        pass
    return problems


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = os.path.join(options.build_dir, f"velkor-{options.version}-win32.zip")
        cls.archive = zipfile.ZipFile(cls.path)
        cls.files = {info.filename: cls.archive.read(info) for info in cls.archive.infolist()}

    @classmethod
    def tearDownClass(cls):
        cls.archive.close()

    def test_contents_in_fixed_order(self):
        self.assertEqual([info.filename for info in self.archive.infolist()], CONTENTS)
        self.assertEqual({info.date_time for info in self.archive.infolist()},
                         {(2020, 1, 1, 0, 0, 0)})

    def test_programs_are_the_build(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                with open(os.path.join(options.build_dir, program), "rb") as f:
                    self.assertEqual(self.files[program], f.read())

    def test_sums(self):
        lines = self.files["SHA256SUMS"].decode("ascii").splitlines()
        sums = {}
        for line in lines:
            match = re.fullmatch(r"([0-9a-f]{64})  (\S+)", line)
            self.assertIsNotNone(match, f"not a sum line: {line!r}")
            sums[match.group(2)] = match.group(1)
        self.assertEqual(sorted(sums), sorted(set(CONTENTS) - {"SHA256SUMS"}))
        for name, digest in sums.items():
            with self.subTest(name=name):
                self.assertEqual(hashlib.sha256(self.files[name]).hexdigest(), digest)

    def test_readme_for_windows_users(self):
        data = self.files["readme.txt"]
        self.assertEqual(windows_text_problems(data), [])
        text = data.decode("cp1251")
        self.assertIn(f"версия {options.version}", text)
        for needed in ("velkor.exe", "Установка и удаление программ", "ОБРАЗЦЫ"):
            self.assertIn(needed, text)

    def test_sample_libraries_match_their_names(self):
        # A package library is named 0019 and the digits of the BDE version
        # it is for; its own version is that version.
        for name in SAMPLE_LIBRARIES:
            with self.subTest(name=name):
                image = pe.Image(self.files[name])
                self.assertEqual(image.machine, pe.MACHINE_I386)
                self.assertEqual(image.imports(), [])
                [block] = pe.resources_of_type(image.resources(), pe.RT_VERSION).values()
                info = pe.parse_version(block)
                strings = info.strings["041904E3"]
                digits = name[4:8]
                self.assertEqual(strings["FileVersion"], ".".join(digits))
                self.assertEqual(info.file_version, tuple(int(d) for d in digits))
                self.assertIn("ОБРАЗЕЦ", strings["FileDescription"])

    def test_companion_files_are_marked_samples(self):
        for name in COMPANIONS:
            with self.subTest(name=name):
                data = self.files[name]
                self.assertEqual(windows_text_problems(data), [])
                self.assertTrue(data.decode("cp1251").startswith("ОБРАЗЕЦ " + name))


class WindowsText(unittest.TestCase):
    def test_faults(self):
        cases = [
            ("Текст\r\n".encode("cp1251"), []),
            ("Текст\n".encode("cp1251"), ["a line that doesn't end in CRLF", "no CRLF at the end"]),
            ("Текст\r\n".encode("utf-8"), ["UTF-8, not Windows-1251"]),
            (b"text", ["no CRLF at the end"]),
        ]
        for data, expected in cases:
            with self.subTest(data=data):
                self.assertEqual(windows_text_problems(data), expected)


def main():
    global options
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("build_dir")
    options, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
