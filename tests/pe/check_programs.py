#!/usr/bin/env python3
"""Checks the built velkor.exe and unvelkor.exe of one Windows build.

    check_programs.py --target win32|win64 --version 1.5 [--import-list FILE] BUILD_DIR
"""

import argparse
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import checks  # noqa: E402
import pe  # noqa: E402

PROGRAMS = {
    "velkor.exe": "Установка русских сообщений BDE",
    "unvelkor.exe": "Удаление русских сообщений BDE",
}

options = None


def expected_version(program):
    text = options.version
    major, minor = (int(part) for part in text.split("."))
    return {
        "version": (major, minor, 0, 0),
        "strings": {
            "FileDescription": PROGRAMS[program],
            "ProductName": "Русификация BDE",
            "FileVersion": text,
            "ProductVersion": text,
            "OriginalFilename": program,
        },
    }


class Programs(unittest.TestCase):
    images = {}

    @classmethod
    def setUpClass(cls):
        for program in PROGRAMS:
            path = os.path.join(options.build_dir, program)
            cls.images[program] = pe.Image.load(path)

    def each(self, check):
        for program, image in self.images.items():
            with self.subTest(program=program):
                self.assertEqual(check(program, image), [])

    def test_runs_elevated(self):
        self.each(lambda program, image: checks.manifest_problems(image))

    def test_imports_only_known_system_dlls(self):
        self.each(lambda program, image: checks.import_problems(image))

    def test_hardened_for_its_windows(self):
        self.each(lambda program, image: checks.hardening_problems(image, options.target))

    def test_says_what_it_is(self):
        self.each(lambda program, image: checks.version_problems(image, expected_version(program)))

    def test_has_its_icon(self):
        self.each(lambda program, image: checks.icon_problems(image))

    def test_imports_what_the_list_names(self):
        if options.import_list is None:
            self.skipTest("no import list for this build")
        listed = checks.read_import_list(options.import_list)
        self.each(lambda program, image: checks.import_list_problems(image, listed))
        # Nor does the list name what neither program imports any more.
        imported = {(dll.lower(), name) for image in self.images.values()
                    for dll, names in image.imports() for name in names}
        self.assertEqual(sorted(listed.keys() - imported), [],
                         "listed but no longer imported: take them out of the list")


def main():
    global options
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", choices=sorted(checks.TARGETS), required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--import-list")
    parser.add_argument("build_dir")
    options, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
