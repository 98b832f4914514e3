#!/usr/bin/env python3
"""The PE reader and the checks on files whose content is known: the
fixture DLLs made from tests/fixtures/*.rc, and manifests and import tables
with one fault each, so that a check that passes everything is caught.

    test_checks.py FIXTURE_DIR SOURCE_DIR
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import checks  # noqa: E402
import pe  # noqa: E402

fixture_dir = None
source_dir = None


def fixture(name):
    return pe.Image.load(os.path.join(fixture_dir, name))


class FakeImage:
    """Stands in for an Image where a check reads only resources or imports."""

    def __init__(self, resources=None, imports=None, delay_imports=None):
        self._resources = resources or {}
        self._imports = imports or []
        self._delay_imports = delay_imports or []

    def resources(self):
        return self._resources

    def imports(self):
        return self._imports

    def delay_import_dlls(self):
        return self._delay_imports


class Reader(unittest.TestCase):
    def test_version_strings_in_cyrillic(self):
        image = fixture("russian.dll")
        versions = pe.resources_of_type(image.resources(), pe.RT_VERSION)
        self.assertEqual(list(versions), [(1, 0x0419)])
        info = pe.parse_version(versions[(1, 0x0419)])
        self.assertEqual(info.file_version, (5, 1, 0, 4))
        self.assertEqual(info.translations, [(0x0419, 1251)])
        self.assertEqual(info.strings["041904E3"]["FileDescription"], "Ресурсы БД")
        self.assertEqual(info.strings["041904E3"]["FileVersion"], "5.1.0.4")

    def test_pe32_plus(self):
        image = fixture("bde5_64.dll")
        self.assertTrue(image.pe32_plus)
        self.assertEqual(image.machine, pe.MACHINE_AMD64)
        [block] = pe.resources_of_type(image.resources(), pe.RT_VERSION).values()
        info = pe.parse_version(block)
        self.assertEqual(info.strings["040904E4"]["FileVersion"], "5.2.0.2")
        self.assertEqual(info.translations, [(0x0409, 1252)])

    def test_one_resource_in_three_languages(self):
        versions = pe.resources_of_type(fixture("langs.dll").resources(), pe.RT_VERSION)
        self.assertEqual(sorted(versions), [(1, 0x0407), (1, 0x0409), (1, 0x0419)])
        self.assertEqual(pe.parse_version(versions[(1, 0x0419)]).file_version, (1, 0, 0, 25))

    def test_a_file_without_resources(self):
        image = fixture("nores.dll")
        self.assertEqual(image.machine, pe.MACHINE_I386)
        self.assertEqual(image.resources(), {})
        self.assertEqual(checks.manifest_problems(image), ["no manifest (RT_MANIFEST)"])
        self.assertEqual(checks.version_problems(image, {}), ["no version resource"])
        self.assertEqual(checks.icon_problems(image), ["no icon (RT_GROUP_ICON)"])

    def test_not_a_pe_file(self):
        with self.assertRaises(pe.FormatError):
            pe.Image(b"MZ" + bytes(0x40))


class Manifest(unittest.TestCase):
    """The kit's own manifest, right and with one fault at a time."""

    @classmethod
    def setUpClass(cls):
        path = os.path.join(source_dir, "kit", "win32", "kit.manifest.in")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for name, value in (("KIT_VERSION_MAJOR", "1"), ("KIT_VERSION_MINOR", "5"),
                            ("KIT_MANIFEST_ARCH", "x86")):
            text = text.replace(f"@{name}@", value)
        cls.text = text

    def problems(self, text, key=(1, 0)):
        image = FakeImage(resources={(pe.RT_MANIFEST,) + key: text.encode("utf-8")})
        return checks.manifest_problems(image)

    def test_as_shipped(self):
        self.assertEqual(self.problems(self.text), [])

    def test_faults(self):
        windows10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
        cases = [
            ("runs as the user", 'level="requireAdministrator"', 'level="asInvoker"',
             "execution level 'asInvoker', not 'requireAdministrator'"),
            ("asks for UI access", 'uiAccess="false"', 'uiAccess="true"',
             "uiAccess 'true', not 'false'"),
            ("no Windows 10", f'<supportedOS Id="{windows10}"/>', "",
             "manifest doesn't declare support for Windows 10 and 11"),
            ("trustInfo in the wrong namespace", "urn:schemas-microsoft-com:asm.v3",
             "urn:example", "0 requestedExecutionLevel elements, not 1"),
        ]
        for what, old, new, expected in cases:
            with self.subTest(what):
                self.assertIn(old, self.text)
                self.assertIn(expected, self.problems(self.text.replace(old, new)))

    def test_wrong_id_or_a_second_manifest(self):
        self.assertEqual(self.problems(self.text, key=(2, 0)), ["manifest ID 2, not 1"])
        data = self.text.encode("utf-8")
        two = FakeImage(resources={(pe.RT_MANIFEST, 1, 0): data, (pe.RT_MANIFEST, 1, 0x409): data})
        self.assertTrue(checks.manifest_problems(two)[0].startswith("2 manifests"))

    def test_not_xml(self):
        self.assertTrue(self.problems("<assembly")[0].startswith("manifest is not XML"))


class Imports(unittest.TestCase):
    def test_dlls(self):
        cases = [
            ([("KERNEL32.dll", []), ("USER32.dll", []), ("msvcrt.dll", [])], []),
            ([("VERSION.dll", ["GetFileVersionInfoA"])],
             ["imports VERSION.dll, which can be planted beside the program"]),
            ([("libgcc_s_dw2-1.dll", [])], ["imports the MinGW runtime DLL libgcc_s_dw2-1.dll"]),
            ([("libwinpthread-1.dll", [])],
             ["imports the MinGW runtime DLL libwinpthread-1.dll"]),
        ]
        for imports, expected in cases:
            with self.subTest(imports=imports):
                self.assertEqual(checks.import_problems(FakeImage(imports=imports)), expected)

    def test_delay_loaded_dll(self):
        image = FakeImage(delay_imports=["version.dll"])
        self.assertEqual(checks.import_problems(image),
                         ["delay-loads version.dll, which is searched for beside the program"])

    def test_against_the_list(self):
        listed = {("kernel32.dll", "Sleep"): "Windows XP"}
        image = FakeImage(imports=[("KERNEL32.dll", ["Sleep", "GetTickCount64"])])
        [problem] = checks.import_list_problems(image, listed)
        self.assertTrue(problem.startswith("imports kernel32.dll GetTickCount64"))
        later = {("kernel32.dll", "Sleep"): "Windows Vista"}
        [problem] = checks.import_list_problems(FakeImage(imports=[("KERNEL32.dll", ["Sleep"])]),
                                                later)
        self.assertIn("later than Windows XP", problem)

    def test_committed_list_reads(self):
        path = os.path.join(source_dir, "tests", "pe", "win32-imports.txt")
        listed = checks.read_import_list(path)
        self.assertEqual(listed[("kernel32.dll", "CopyFileA")], "Windows XP")
        self.assertNotIn("version.dll", {dll for dll, _ in listed})


def main():
    global fixture_dir, source_dir
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    fixture_dir, source_dir = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)


if __name__ == "__main__":
    sys.exit(main())
