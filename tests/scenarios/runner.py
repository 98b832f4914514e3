#!/usr/bin/env python3
"""Runs scenario tables against a Windows machine: the simulated one or Wine.

A scenario file holds named starting machines and a table of scenarios. Each
scenario names its machine (and what it changes in it), the runs of the kit's
programs with the answers to their boxes, the boxes that must appear, the exit
codes, and what must have changed in the registry and the files afterwards;
whatever it doesn't name as changed must be as it was.
"""
import argparse
import json
import re
import sys
from pathlib import Path

import machine_state as ms

KIT_FOLDER = "C:\\kit"
RECORD_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velkor"


def merge(base, override):
    """Applies an override: None removes an entry, another value replaces it."""
    result = dict(base)
    for name, value in (override or {}).items():
        if value is None:
            result.pop(name, None)
        else:
            result[name] = value
    return result


def merge_registry(base, override):
    """Keys merge value by value; a key given as None is removed."""
    result = dict(base)
    for key, values in (override or {}).items():
        result[key] = None if values is None else merge(result.get(key) or {}, values)
    return {key: values for key, values in result.items() if values is not None}


def expand_paths(table, windir):
    return {name.replace("{windir}", windir): value for name, value in (table or {}).items()}


def with_windir(data, windir):
    """The Windows folder put in every name and text of the tables."""
    if isinstance(data, str):
        return data.replace("{windir}", windir)
    if isinstance(data, list):
        return [with_windir(item, windir) for item in data]
    if isinstance(data, dict):
        return {with_windir(k, windir): with_windir(v, windir) for k, v in data.items()}
    return data


class Placeholders:
    """Turns an expected box text into a pattern; the system's own texts are
    asked of the machine under test."""

    PATTERN = re.compile(r"\{(syserr|lang|windir|address)(?::([0-9A-Fa-fx]+))?\}")

    def __init__(self, backend):
        self.backend = backend

    def regex(self, expected):
        parts, last = [], 0
        for match in self.PATTERN.finditer(expected):
            parts.append(re.escape(expected[last:match.start()]))
            kind, arg = match.group(1), match.group(2)
            if kind == "syserr":
                parts.append(re.escape(self.backend.system_text(int(arg, 0))))
            elif kind == "lang":
                parts.append(re.escape(self.backend.language_name(int(arg, 16))))
            elif kind == "windir":
                parts.append(re.escape(self.backend.windows_folder()))
            else:
                parts.append("[0-9A-F]{8}")
            last = match.end()
        parts.append(re.escape(expected[last:]))
        return re.compile("".join(parts), re.DOTALL)


def quote_argument(argument):
    if argument and not any(c in argument for c in ' \t"'):
        return argument
    return '"' + argument.replace('"', '\\"') + '"'


def command_line(step, backend):
    if "command" in step:
        return step["command"].replace("{windir}", backend.windows_folder())
    if step["run"] == "uninstall":
        # As the program-removal list does: the registered command line, verbatim.
        record = backend.read_registry([RECORD_KEY]).get(RECORD_KEY) or {}
        if "UninstallString" not in record:
            raise AssertionError("no UninstallString is registered to run")
        return ms.reg_text(record["UninstallString"])
    program = f'"{KIT_FOLDER}\\{step["run"]}.exe"'
    return " ".join([program] + [quote_argument(a) for a in step.get("args", [])])


class Scenario:
    def __init__(self, table, entry, backend):
        self.entry = entry
        self.backend = backend
        windir = backend.windows_folder()
        machine = table["machines"][entry["machine"]] if "machine" in entry else {}
        self.registry = merge_registry(machine.get("registry", {}), entry.get("registry"))
        self.files = expand_paths(merge(machine.get("files", {}), entry.get("files")), windir)
        self.files.setdefault(KIT_FOLDER + "\\velkor.exe", {"program": "velkor"})
        self.named_boxes = table.get("boxes", {})
        self.windir = windir

    def expected_state(self, changes):
        registry = merge_registry(self.registry, (changes or {}).get("registry"))
        files = merge(self.files, expand_paths((changes or {}).get("files"), self.windir))
        return registry, files

    def watched_keys(self, changes_list):
        keys = set(self.registry) | {RECORD_KEY}
        for changes in changes_list:
            keys |= set((changes or {}).get("registry", {}))
        return sorted(keys)

    def watched_folders(self, changes_list):
        paths = set(self.files)
        for changes in changes_list:
            paths |= set(expand_paths((changes or {}).get("files"), self.windir))
        folders = {ms.parent(p) for p in paths}
        folders = {f for f in folders if f.lower() != self.windir.lower()}
        return sorted(folders), sorted(p for p in paths if ms.parent(p).lower() == self.windir.lower())


def compare_boxes(step, actual, placeholders, named):
    problems = []
    expected = [named[b] if isinstance(b, str) else b for b in step.get("boxes", [])]
    for index in range(max(len(expected), len(actual))):
        want = expected[index] if index < len(expected) else None
        got = actual[index] if index < len(actual) else None
        if want is None:
            problems.append(f"box {index + 1}: unexpected {json.dumps(got, ensure_ascii=False)}")
            continue
        if got is None:
            problems.append(f"box {index + 1}: missing {json.dumps(want, ensure_ascii=False)}")
            continue
        for key in ("caption", "style", "answer"):
            wanted = want.get(key)
            if key == "style" and wanted is not None:
                # What of a style shows on a box depends on the side.
                wanted &= getattr(placeholders.backend, "style_mask", ~0)
            if key in want and wanted != got.get(key):
                problems.append(f"box {index + 1} {key}: want {wanted!r}, got {got.get(key)!r}")
        if "text" in want and not placeholders.regex(want["text"]).fullmatch(got.get("text", "")):
            problems.append(f"box {index + 1} text:\n  want {want['text']!r}\n  got  {got.get('text')!r}")
    return problems


def compare_state(scenario, changes, all_changes):
    backend = scenario.backend
    want_registry, want_files = scenario.expected_state(changes)
    problems = []
    keys = scenario.watched_keys(all_changes)
    got_registry = backend.read_registry(keys)
    for key in keys:
        want = ms.registry_values(want_registry.get(key))
        got = got_registry.get(key)
        if want != got:
            problems.append(f"registry {key}:\n  want {ms.show_values(want)}\n  got  {ms.show_values(got)}")
    folders, windir_files = scenario.watched_folders(all_changes)
    for folder in folders:
        want = {ms.leaf(p): ms.file_state(spec, backend)
                for p, spec in want_files.items() if ms.parent(p).lower() == folder.lower()}
        got = backend.list_folder(folder) or {}
        want = {name: state for name, state in want.items() if state is not None and state[0] is not None}
        if want != got:
            problems.append(f"folder {folder}: {ms.show_folder_diff(want, got)}")
    for path in windir_files:
        want = ms.file_state(want_files.get(path), backend)
        got = (backend.list_folder(ms.parent(path)) or {}).get(ms.leaf(path))
        if want != got:
            problems.append(f"file {path}: want {ms.show_file(want)}, got {ms.show_file(got)}")
    return problems


def run_scenario(table, entry, backend):
    table = with_windir(table, backend.windows_folder())
    entry = with_windir(entry, backend.windows_folder())
    scenario = Scenario(table, entry, backend)
    placeholders = Placeholders(backend)
    held = [p for p, s in scenario.files.items() if s and s.get("held")]
    failures = entry.get("failures", [])
    backend.reset(
        registry={k: ms.registry_values(v) for k, v in scenario.registry.items()},
        files={p: ms.file_state(s, backend) for p, s in scenario.files.items() if s is not None},
        held=held,
        failures=failures,
        locked_keys=entry.get("locked_keys", []),
    )
    problems = []
    steps = entry["steps"]
    all_changes = [s.get("changes") for s in steps] + [entry.get("changes")]
    for number, step in enumerate(steps, 1):
        line = command_line(step, backend)
        # A step may hold files open, or make calls fail, for its own run only.
        exit_code, boxes = backend.run(line, step.get("answers", []),
                                       held=held + step.get("hold", []),
                                       failures=failures + step.get("failures", []))
        step_problems = compare_boxes(step, boxes, placeholders, scenario.named_boxes)
        if exit_code != step.get("exit", 0):
            step_problems.append(f"exit code: want {step.get('exit', 0)}, got {exit_code}")
        if "changes" in step:
            step_problems += compare_state(scenario, step["changes"], all_changes)
        problems += [f"step {number} ({line}): {p}" for p in step_problems]
    if "changes" in entry or not any("changes" in s for s in steps):
        problems += [f"after the run: {p}" for p in compare_state(scenario, entry.get("changes"), all_changes)]
    return problems


def selected(entry, backend, args):
    only = entry.get("only")
    if only and only != backend.name:
        return False, f"runs on the {only} side only: {entry.get('why', '')}"
    if args.language != "ru" and not entry.get("main"):
        return False, "not a main path"
    return True, ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--backend", choices=["sim", "wine"], required=True)
    parser.add_argument("--programs", required=True, help="folder with the programs under test")
    parser.add_argument("--fixtures", required=True, help="folder with the fixture DLLs")
    parser.add_argument("--tools", help="folder with the Windows tools (Wine side)")
    parser.add_argument("--language", default="ru", choices=["ru", "en"])
    parser.add_argument("--only", help="run only the scenario of this name")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    if args.backend == "sim":
        from backend_sim import SimBackend
        backend = SimBackend(args.programs, args.language)
    else:
        from backend_wine import WineBackend
        backend = WineBackend(args.programs, args.tools, args.language)
    ms.FIXTURES = Path(args.fixtures)

    passed = failed = skipped = 0
    try:
        for file in args.files:
            table = json.loads(Path(file).read_text(encoding="utf-8"))
            for entry in table["scenarios"]:
                if args.only and entry["name"] != args.only:
                    continue
                ok, why = selected(entry, backend, args)
                if not ok:
                    skipped += 1
                    print(f"SKIP {entry['name']}: {why}")
                    continue
                try:
                    problems = run_scenario(table, entry, backend)
                except Exception as error:  # a scenario that can't run is a failure, not a crash
                    problems = [f"{type(error).__name__}: {error}"]
                if problems:
                    failed += 1
                    print(f"FAIL {entry['name']}")
                    for problem in problems:
                        print("  " + problem.replace("\n", "\n  "))
                else:
                    passed += 1
                    print(f"ok   {entry['name']}")
    finally:
        backend.close()
    print(f"{backend.name}/{args.language}: {passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
