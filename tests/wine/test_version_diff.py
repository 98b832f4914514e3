"""The simulated version services against the real ones under Wine: the same
probe (tests/wine/verprobe.cpp), built for the simulated machine
(verprobe_sim) and for Windows (verprobe_real, through kit/win32), run on the
same files at the same Windows paths, must print the same report: sizes,
blocks, values, where they lie, and every error code.

    python3 -m unittest tests/wine/test_version_diff.py -v

Needs build/win64/tools/verprobe_real.exe (or VELKOR_WINE_TOOLS),
build/native/tests/wine/verprobe_sim and build/native/tests/fixtures (or
VELKOR_NATIVE_BUILD), Wine, Xvfb and the ru_RU.UTF-8 locale.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "scenarios"))

from backend_wine import WineBackend  # noqa: E402

ROOT = HERE.parents[1]
TOOLS = Path(os.environ.get("VELKOR_WINE_TOOLS", ROOT / "build" / "win64" / "tools"))
NATIVE = Path(os.environ.get("VELKOR_NATIVE_BUILD", ROOT / "build" / "native"))
SIM_PROBE = NATIVE / "tests" / "wine" / "verprobe_sim"
FIXTURES = NATIVE / "tests" / "fixtures"
PROBE = "C:\\probe\\verprobe_real.exe"
SYSTEM = "C:\\windows\\system32\\"

# What the kit asks, and the paths around it that trip parsers up: case,
# doubled and missing backslashes, a block without a value, names not there.
FIXTURE_QUERIES = [
    "\\", "", "\\\\", "\\VarFileInfo\\Translation", "VarFileInfo\\Translation\\",
    "\\StringFileInfo\\040904E4\\FileVersion", "\\stringfileinfo\\040904e4\\fileversion",
    "\\\\StringFileInfo\\\\040904E4\\FileVersion", "\\StringFileInfo\\040904E4\\CompanyName",
    "\\StringFileInfo\\041904E3\\FileDescription", "\\StringFileInfo\\041904E4\\FileVersion",
    "\\StringFileInfo\\040704E4\\FileVersion", "\\StringFileInfo", "\\StringFileInfo\\040904E4",
    "\\VarFileInfo", "\\StringFileInfo\\040904E4\\NoSuchValue", "\\NoSuchBlock",
    "\\VarFileInfo\\Translation\\Deeper",
]
SYSTEM_QUERIES = [
    "\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904B0\\FileVersion",
    "\\StringFileInfo\\040904E4\\FileVersion", "\\StringFileInfo\\040904B0\\ProductName",
    "\\StringFileInfo\\040904E4\\ProductName", "\\StringFileInfo\\040904E4\\FileDescription",
    "\\StringFileInfo\\040904B0\\FileDescription", "\\StringFileInfo",
]
# Wine's own programs: ones with a version resource, and one without.
SYSTEM_FILES = ["version.dll", "kernel32.dll", "notepad.exe", "advapi32.dll", "cmd.exe", "attrib.exe"]
RUSSIAN_FOLDER = "C:\\fixtures\\Ресурсы\\"
# Paths that fail, each for its own reason.
ERROR_PATHS = [
    "C:\\fixtures\\missing.dll",
    "C:\\no such folder\\bde5.dll",
    "C:\\fixtures\\readme.txt\\bde5.dll",   # a file where a folder should be
    "C:\\fixtures\\readme.txt",             # not a PE file
    "C:\\fixtures\\short.dll",              # "MZ" and nothing more
    "C:\\fixtures",                         # a folder
    "C:\\fixtures\\*.dll",
    "Q:\\bde5.dll",                         # no such drive
    "",
]
HELD = "C:\\fixtures\\held\\bde5.dll"


def fixture_files():
    dlls = sorted(FIXTURES.glob("*.dll"))
    if not dlls:
        raise unittest.SkipTest(f"no fixture DLLs in {FIXTURES}: build the native fixtures")
    return {f"C:\\fixtures\\{dll.name}": dll.read_bytes() for dll in dlls}


def probe_arguments(cases):
    arguments = []
    for path, queries in cases:
        arguments += ["--file", path, *queries]
    return arguments


def split_reports(text, cases):
    """The report of each case, by the "file" line that begins it."""
    reports = []
    for line in text.splitlines():
        if line.startswith("file "):
            reports.append([])
        if reports:
            reports[-1].append(line)
    if len(reports) != len(cases):
        raise AssertionError(f"{len(reports)} reports for {len(cases)} files:\n{text[-2000:]}")
    return {path: "\n".join(report) for (path, _), report in zip(cases, reports)}


class SimulatedMachine:
    """A WINSIM_MACHINE directory holding the same files as the prefix."""

    def __init__(self):
        self.dir = Path(tempfile.mkdtemp(prefix="velkor-versim-"))

    def place(self, files, held=()):
        shutil.rmtree(self.dir / "drive_c", ignore_errors=True)
        for windows_path, content in files.items():
            host = self.dir / "drive_c" / Path(*windows_path[3:].split("\\"))
            host.parent.mkdir(parents=True, exist_ok=True)
            host.write_bytes(content)
        (self.dir / "held_files").write_text("".join(p + "\n" for p in held), encoding="utf-8")

    def probe(self, cases):
        # The kit passes Windows-1251 bytes: so do we.
        arguments = [a.encode("cp1251") for a in probe_arguments(cases)]
        env = {**os.environ, "WINSIM_MACHINE": str(self.dir)}
        out = subprocess.run([str(SIM_PROBE), *arguments], env=env, capture_output=True, timeout=60,
                             check=True).stdout
        return split_reports(out.decode("ascii"), cases)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class VersionServicesAgainstWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [p for p in (TOOLS / "verprobe_real.exe", SIM_PROBE) if not p.exists()]
        if missing:
            raise AssertionError(f"not built: {', '.join(map(str, missing))}")
        cls.wine = WineBackend(TOOLS, TOOLS, "ru")
        cls.sim = SimulatedMachine()
        try:
            cls.files = fixture_files()
            for name in SYSTEM_FILES:
                cls.files[SYSTEM + name] = cls.wine.host_path(SYSTEM + name).read_bytes()
            cls.files[RUSSIAN_FOLDER + "Русская.dll"] = cls.files["C:\\fixtures\\russian.dll"]
            cls.files["C:\\fixtures\\readme.txt"] = b"Not a program.\r\n"
            cls.files["C:\\fixtures\\short.dll"] = b"MZ"
            cls.files[HELD] = cls.files["C:\\fixtures\\bde5.dll"]
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()
        cls.sim.close()

    def place(self, held=()):
        # Wine's own files are in the prefix already; the sim gets copies.
        ours = {p: (c, False) for p, c in self.files.items() if not p.startswith(SYSTEM)}
        self.wine.reset({}, {**ours, PROBE: ((TOOLS / "verprobe_real.exe").read_bytes(), False)}, [], [], [])
        self.sim.place(self.files, held)

    def real(self, cases, held=()):
        if held:
            self.wine._hold(list(held))
        try:
            out = self.wine._wine(str(self.wine.host_path(PROBE)), *probe_arguments(cases))
        finally:
            self.wine._stop_holder()
        return split_reports(out.decode("ascii"), cases)

    def assert_same(self, cases, held=()):
        self.place(held)
        simulated = self.sim.probe(cases)
        real = self.real(cases, held)
        for path, _ in cases:
            with self.subTest(path=path):
                self.assertEqual(simulated[path], real[path])
        return real

    def test_fixture_dlls(self):
        cases = [(path, FIXTURE_QUERIES) for path in sorted(self.files)
                 if path.startswith("C:\\fixtures\\") and path.endswith(".dll") and path != HELD]
        cases.append((RUSSIAN_FOLDER.upper() + "РУССКАЯ.DLL", FIXTURE_QUERIES))
        real = self.assert_same(cases)
        # The comparison means something only if the real side read blocks.
        self.assertIn("read 1 error 0", real["C:\\fixtures\\bde5.dll"])
        self.assertIn("size 0 handle 0 error 1812", real["C:\\fixtures\\nores.dll"])

    def test_wines_own_programs(self):
        real = self.assert_same([(SYSTEM + name, SYSTEM_QUERIES) for name in SYSTEM_FILES])
        reports = [real[SYSTEM + name] for name in SYSTEM_FILES]
        self.assertTrue(any("read 1" in r for r in reports), "none has a version resource")
        self.assertTrue(any("error 1812" in r for r in reports), "all have a version resource")

    def test_errors(self):
        self.assert_same([(path, ["\\"]) for path in ERROR_PATHS])

    def test_a_held_file(self):
        real = self.assert_same([(HELD, ["\\"]), ("C:\\fixtures\\bde5.dll", ["\\"])], held=[HELD])
        self.assertIn("error 32", real[HELD])


if __name__ == "__main__":
    unittest.main()
