"""The Wine tier checked against known answers: the driver reads and answers
message boxes as they are, the machine is set up and read back exactly, and
kit/win32's services behave as the system's own functions.

    python3 -m unittest discover -s tests/wine -v

Needs the 64-bit tools (build/win64/tools, or VELKOR_WINE_TOOLS), Wine,
Xvfb and the ru_RU.UTF-8 and en_US.UTF-8 locales.
"""
import json
import os
import re
import shutil
import struct
import sys
import tempfile
import time
import unittest
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "scenarios"))

from backend_wine import WineBackend  # noqa: E402

TOOLS = Path(os.environ.get("VELKOR_WINE_TOOLS", HERE.parents[1] / "build" / "win64" / "tools"))
PROBE = "C:\\probe\\boxprobe.exe"
CHECK = "C:\\probe\\services_check.exe"


def quoted(argument):
    """One argument as CommandLineToArgvW reads it back."""
    if argument and not any(c in argument for c in ' \t"'):
        return argument
    out, backslashes = '"', 0
    for c in argument:
        if c == "\\":
            backslashes += 1
            continue
        out += "\\" * (backslashes * 2 + 1 if c == '"' else backslashes) + c
        backslashes = 0
    return out + "\\" * (backslashes * 2) + '"'


def png_pixels(path):
    """Width, height and the RGB rows of an 8-bit RGB PNG without filters."""
    data = Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "no PNG signature"
    offset, chunks = 8, {}
    while offset < len(data):
        length, kind = struct.unpack(">I4s", data[offset:offset + 8])
        body = data[offset + 8:offset + 8 + length]
        crc = struct.unpack(">I", data[offset + 8 + length:offset + 12 + length])[0]
        assert zlib.crc32(kind + body) == crc, f"bad CRC in {kind}"
        chunks[kind] = chunks.get(kind, b"") + body
        offset += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert (depth, colour) == (8, 2)
    raw = zlib.decompress(chunks[b"IDAT"])
    stride = width * 3 + 1
    assert len(raw) == stride * height
    return width, height, [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]


SHOTS = Path(tempfile.mkdtemp(prefix="velkor-shots-"))
BACKENDS = {}  # one prefix per language for the whole module


def backend_for(language):
    if language not in BACKENDS:
        os.environ["VELKOR_WINE_SHOTS"] = str(SHOTS / language)
        try:
            BACKENDS[language] = WineBackend(TOOLS, TOOLS, language)
        finally:
            del os.environ["VELKOR_WINE_SHOTS"]
    return BACKENDS[language]


def tearDownModule():
    for backend in BACKENDS.values():
        backend.close()
    shutil.rmtree(SHOTS, ignore_errors=True)


class WineTier(unittest.TestCase):
    language = "ru"

    @classmethod
    def setUpClass(cls):
        cls.backend = backend_for(cls.language)
        cls.shots = SHOTS / cls.language
        cls.tools = {name: (TOOLS / f"{name}.exe").read_bytes() for name in ("boxprobe", "services_check")}

    def reset(self, registry=None, files=None):
        placed = {PROBE: (self.tools["boxprobe"], False), CHECK: (self.tools["services_check"], False)}
        self.backend.reset(registry or {}, {**placed, **(files or {})}, [], [], [])

    def probe(self, arguments, answers=(), held=()):
        line = " ".join([quoted(PROBE)] + [quoted(a) for a in arguments])
        return self.backend.run(line, list(answers), held=list(held), failures=[])


class BoxesAndAnswers(WineTier):
    # style shown, answer given -> style seen, answer recorded, MessageBox's result
    CASES = [
        (0x00, "OK", 0x00, "OK", 1),
        (0x00, "CANCEL", 0x00, "OK", 1),        # Esc on a box with only OK gives IDOK
        (0x01, "OK", 0x01, "OK", 1),
        (0x01, "CANCEL", 0x01, "CANCEL", 2),
        (0x10, "OK", 0x10, "OK", 1),
        (0x21, "CANCEL", 0x21, "CANCEL", 2),
        (0x31, "OK", 0x31, "OK", 1),
        (0x40, "OK", 0x40, "OK", 1),
        (0x121, "CANCEL", 0x121, "CANCEL", 2),  # second button the default
        (0x2010, "OK", 0x10, "OK", 1),          # task-modal: nothing of it shows
    ]
    CAPTION = "Русификация BDE (версия 1.5)"
    TEXT = 'Папка:\t C:\\BDE\\\r\rОшибка: "ёЁ" №5\r\n'

    def test_each_box_is_read_and_answered(self):
        self.reset()
        arguments = []
        for style, *_ in self.CASES:
            arguments += ["box", hex(style), self.CAPTION, self.TEXT.replace("\r", "\\r").replace("\n", "\\n")
                          .replace("\t", "\\t")]
        exit_code, boxes = self.probe(arguments, [answer for _, answer, *_ in self.CASES])
        self.assertEqual(len(boxes), len(self.CASES))
        results = "".join(str(result) for *_, result in self.CASES)
        self.assertEqual(exit_code, int(results))
        for (style, answer, seen, recorded, _), box in zip(self.CASES, boxes):
            with self.subTest(style=hex(style), answer=answer):
                self.assertEqual(box["caption"], self.CAPTION)
                self.assertEqual(box["text"], self.TEXT)
                self.assertEqual(box["style"], seen)
                self.assertEqual(box["style"], style & self.backend.style_mask)
                self.assertEqual(box["answer"], recorded)

    def test_a_box_with_only_ok_needs_no_answer(self):
        self.reset()
        exit_code, boxes = self.probe(["box", "0x30", "c", "one", "box", "0", "c", "two"])
        self.assertEqual(exit_code, 11)
        self.assertEqual([b["answer"] for b in boxes], ["OK", "OK"])

    def test_a_question_without_an_answer_ends_the_program(self):
        self.reset()
        exit_code, boxes = self.probe(["box", "0x21", "c", "asked", "box", "0", "c", "never shown"])
        self.assertEqual(exit_code, "unanswered box")
        self.assertEqual([(b["text"], b["answer"]) for b in boxes], [("asked", "NONE")])

    def test_a_program_that_shows_nothing_is_ended_after_the_timeout(self):
        self.reset()
        self.backend.box_timeout = 3
        try:
            started = time.monotonic()
            exit_code, boxes = self.probe(["wait", "600"])
            took = time.monotonic() - started
        finally:
            self.backend.box_timeout = 20
        self.assertEqual((exit_code, boxes), ("timeout", []))
        self.assertLess(took, 30)
        # The machine works on after the hang.
        self.reset()
        self.assertEqual(self.probe(["box", "0", "c", "after"])[0], 1)

    def test_the_screenshot_is_the_box(self):
        self.reset()
        _, boxes = self.probe(["box", "0x10", "Снимок", "Текст окна"], ["OK"])
        width, height, rows = png_pixels(boxes[0]["shot"])
        self.assertTrue(200 > width > 80 and 300 > height > 60, (width, height))
        colours = {bytes(row[x:x + 3]) for row in rows for x in range(0, len(row), 3)}
        self.assertGreater(len(colours), 8, "a box has text, an icon and a frame")


class MachineState(WineTier):
    KEY = "Software\\Borland\\Database Engine"
    VALUES = {
        "RESOURCE": (1, b"0009\0"),
        "NoNul": (1, b"0009"),
        "InnerNul": (1, b"C:\\BDE\0;D:\\\0"),
        "Empty": (1, b""),
        "Cyrillic": (1, "C:\\Программы\\BDE".encode("cp1251") + b"\0"),
        "": (1, b"default\0"),
        "Binary": (3, bytes(range(0, 256, 17))),
        "Dword": (4, (10).to_bytes(4, "little")),
        "ShortDword": (4, b"\x01\x02"),
        "Multi": (7, b"a\0b\0\0"),
        "Expand": (2, b"%windir%\\x\0"),
    }
    RECORD = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velkor"

    def test_registry_values_come_back_exactly(self):
        self.reset({self.KEY: self.VALUES})
        got = self.backend.read_registry([self.KEY, self.KEY + "\\Nothing"])
        self.assertEqual(got[self.KEY + "\\Nothing"], None)
        for name, value in self.VALUES.items():
            with self.subTest(name=name):
                self.assertEqual(got[self.KEY].get(name), value)
        self.assertEqual(set(got[self.KEY]), set(self.VALUES))

    def test_a_reset_removes_what_an_earlier_scenario_left(self):
        other = "Software\\VelkorTierCheck"
        self.reset({self.KEY: self.VALUES, self.RECORD: {"DisplayName": (1, b"x\0")},
                    other: {"Old": (1, b"1\0"), "Kept": (1, b"1\0")}})
        self.reset({self.KEY + "\\Sub": {"A": (1, b"a\0")}, other: {"Kept": (1, b"2\0")}})
        got = self.backend.read_registry([self.KEY, self.KEY + "\\Sub", self.RECORD, other])
        self.assertEqual(got, {self.KEY: {}, self.KEY + "\\Sub": {"A": (1, b"a\0")}, self.RECORD: None,
                               other: {"Kept": (1, b"2\0")}})

    def test_files_come_back_and_go_with_the_next_reset(self):
        windir = self.backend.windows_folder()
        files = {"C:\\BDE\\idr20009.dll": (b"MZ current", False), "C:\\BDE\\Старый.dll": (b"old", True),
                 "C:\\BDE\\Empty": (None, False), windir + "\\unvelkor.exe": (b"MZ", False)}
        self.reset(files=files)
        self.assertEqual(self.backend.list_folder("c:\\bde"),
                         {"idr20009.dll": (b"MZ current", False), "Старый.dll": (b"old", True)})
        self.assertEqual(self.backend.list_folder(windir)["unvelkor.exe"], (b"MZ", False))
        self.reset(files={"C:\\Other\\a.txt": (b"a", False)})
        self.assertIsNone(self.backend.list_folder("C:\\BDE"))
        self.assertNotIn("unvelkor.exe", self.backend.list_folder(windir))
        self.assertIsNotNone(self.backend.list_folder(windir + "\\system32"))

    def test_read_only_and_held_files_refuse_as_on_windows(self):
        self.reset(files={"C:\\BDE\\source.dll": (b"new", False), "C:\\BDE\\readonly.dll": (b"old", True),
                          "C:\\BDE\\plain.dll": (b"old", False)})
        cases = [  # copy from, to, held -> error code, what "to" then holds
            ("source.dll", "readonly.dll", [], 5, (b"old", True)),
            ("source.dll", "plain.dll", ["C:\\BDE\\source.dll"], 32, (b"old", False)),
            ("source.dll", "plain.dll", [], 0, (b"new", False)),
        ]
        for source, target, held, code, after in cases:
            with self.subTest(target=target, held=held):
                exit_code, _ = self.probe(["copy", f"C:\\BDE\\{source}", f"C:\\BDE\\{target}"], held=held)
                self.assertEqual(exit_code, code)
                self.assertEqual(self.backend.list_folder("C:\\BDE")[target], after)


class SystemAndServices(WineTier):
    def test_system_texts_are_in_the_systems_language(self):
        text = self.backend.system_text(2)
        self.assertTrue(text.endswith("\r\n"), repr(text))
        self.assertEqual(bool(re.search("[А-Яа-я]", text)), self.language == "ru", text)
        self.assertNotEqual(self.backend.language_name(0x409), "<unknown>")
        self.assertEqual(self.backend.language_name(0x7F7F), "<unknown>")
        self.assertRegex(self.backend.windows_folder(), r"^[A-Za-z]:\\")

    def test_services_match_the_systems_own_functions(self):
        self.reset()
        out = self.backend._wine(str(self.backend.host_path(CHECK)))
        checks = self.backend._json_lines(out)
        self.assertGreater(len(checks), 20)
        for check in checks:
            with self.subTest(check=check["check"]):
                self.assertTrue(check["ok"], check["detail"])

    def test_the_kits_message_box_shows_its_cyrillic(self):
        self.reset()
        exit_code, boxes = self.backend.run(quoted(CHECK) + " box", ["CANCEL"], held=[], failures=[])
        self.assertEqual(exit_code, 2)
        self.assertEqual([(b["caption"], b["text"], b["style"]) for b in boxes],
                         [("Русификация BDE", "Проверка связи:\r\t«ёЁ» №1", 0x21)])


class EnglishSystem(SystemAndServices):
    language = "en"


if __name__ == "__main__":
    unittest.main()
