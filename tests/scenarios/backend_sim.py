"""The simulated Windows machine as a scenario backend: a machine directory
that the native programs run against (WINSIM_MACHINE)."""
import json
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

REGISTRY_HEADER = "REGEDIT4"
LANGUAGE_KEY = "System\\CurrentControlSet\\Control\\Nls\\Language"
RUN_TIMEOUT = 30


def reg_escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def write_registry(path, registry):
    """The registry in regedit's REGEDIT4 text, Windows-1251."""
    lines = [REGISTRY_HEADER, ""]
    for key, values in registry.items():
        lines.append(f"[HKEY_LOCAL_MACHINE\\{key}]")
        for name, (kind, data) in values.items():
            head = "@" if name == "" else f'"{reg_escape(name)}"'
            text = data[:-1].decode("cp1251", "replace") if kind == 1 and data.endswith(b"\0") else None
            if text is not None and b"\0" not in data[:-1] and not any(c in text for c in "\r\n"):
                lines.append(f'{head}="{reg_escape(text)}"')
            elif kind == 4 and len(data) == 4:
                lines.append(f"{head}=dword:{int.from_bytes(data, 'little'):08x}")
            else:
                kind_text = "hex" if kind == 3 else f"hex({kind:x})"
                lines.append(f"{head}={kind_text}:{','.join(f'{b:02x}' for b in data)}")
        lines.append("")
    Path(path).write_bytes("\r\n".join(lines).encode("cp1251"))


def read_registry_file(path):
    """{key path under HKLM (lower case): (key spelling, {name: (type, bytes)})}."""
    keys = {}
    if not Path(path).exists():
        return keys
    text = Path(path).read_bytes().decode("cp1251")
    joined = text.replace("\\\r\n", "").replace("\\\n", "")
    current = None
    for line in joined.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1]
            prefix = "HKEY_LOCAL_MACHINE\\"
            current = None
            if name.upper().startswith(prefix):
                key = name[len(prefix):]
                current = keys.setdefault(key.lower(), (key, {}))[1]
            continue
        if current is None or "=" not in line or line == REGISTRY_HEADER:
            continue
        name, value = parse_value_line(line)
        current[name] = value
    return keys


def parse_value_line(line):
    if line.startswith("@="):
        name, rest = "", line[2:]
    else:
        end, i = None, 1
        while i < len(line):
            if line[i] == "\\":
                i += 2
                continue
            if line[i] == '"':
                end = i
                break
            i += 1
        name = line[1:end].replace('\\"', '"').replace("\\\\", "\\")
        rest = line[end + 2:]
    if rest.startswith('"'):
        text = rest[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        return name, (1, text.encode("cp1251") + b"\0")
    if rest.startswith("dword:"):
        return name, (4, int(rest[6:], 16).to_bytes(4, "little"))
    kind = 3
    if rest.startswith("hex("):
        kind = int(rest[4:rest.index(")")], 16)
    data = rest.split(":", 1)[1]
    return name, (kind, bytes(int(b, 16) for b in data.replace(" ", "").split(",") if b))


class SimBackend:
    name = "sim"

    def __init__(self, programs_dir, language):
        self.programs = Path(programs_dir)
        self.language = language
        self.root = Path(tempfile.mkdtemp(prefix="velkor-sim-"))
        self.machine = self.root / "machine"
        self.query = self.programs / "tests" / "simquery"
        self._texts = {}

    # Paths -----------------------------------------------------------------
    def host_path(self, windows_path, create=False):
        drive, _, rest = windows_path.partition(":")
        path = self.machine / f"drive_{drive.lower()}"
        for part in [p for p in rest.replace("/", "\\").split("\\") if p]:
            match = None
            if path.is_dir():
                match = next((c for c in path.iterdir() if c.name.lower() == part.lower()), None)
            path = match if match is not None else path / part
        if create:
            path.parent.mkdir(parents=True, exist_ok=True)
        return path

    # Backend interface -------------------------------------------------------
    def reset(self, registry, files, held, failures, locked_keys):
        if self.machine.exists():
            for path in self.machine.rglob("*"):
                path.chmod(0o755 if path.is_dir() else 0o644)
            shutil.rmtree(self.machine)
        self.machine.mkdir()
        self._texts = {}
        registry = dict(registry)
        if self.language == "en":
            registry[LANGUAGE_KEY] = {"Default": (1, b"0409\0")}
        write_registry(self.machine / "registry.reg", registry)
        self.host_path("C:\\WINDOWS\\").mkdir(parents=True, exist_ok=True)
        for windows_path, (content, readonly) in files.items():
            path = self.host_path(windows_path, create=True)
            if content is None:
                path.mkdir(parents=True, exist_ok=True)
                continue
            path.write_bytes(content)
            mode = 0o755 if content.startswith(b"\x7fELF") else 0o644
            path.chmod(mode & ~0o222 if readonly else mode)
        self._write_conditions(held, failures)
        (self.machine / "locked_keys").write_text(
            "".join(f"HKEY_LOCAL_MACHINE\\{k}\n" for k in locked_keys), encoding="utf-8")

    def _write_conditions(self, held, failures):
        (self.machine / "held_files").write_text("".join(p + "\n" for p in held), encoding="utf-8")
        (self.machine / "failures").write_text("".join(f + "\n" for f in failures), encoding="utf-8")

    def program_bytes(self, name):
        return (self.programs / name).read_bytes()

    def run(self, command_line, answers, held, failures):
        self._write_conditions(held, failures)
        program = command_line[1:].split('"', 1)[0] if command_line.startswith('"') else command_line.split()[0]
        host = self.host_path(program)
        log = self.machine / "boxes.log"
        log.unlink(missing_ok=True)
        (self.machine / "answers").write_text("".join(a + "\n" for a in answers), encoding="utf-8")
        env = dict(os.environ, WINSIM_MACHINE=str(self.machine), WINSIM_COMMAND_LINE=command_line)
        try:
            result = subprocess.run([str(host)], cwd=host.parent, env=env, stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=RUN_TIMEOUT)
            exit_code = result.returncode
        except subprocess.TimeoutExpired:
            exit_code = "timeout"
        (self.machine / "answers").unlink(missing_ok=True)
        boxes = []
        if log.exists():
            boxes = [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines() if line]
        return exit_code, boxes

    def read_registry(self, keys):
        stored = read_registry_file(self.machine / "registry.reg")
        result = {}
        for key in keys:
            # A key exists when it or one of its sub-keys has a section.
            entry = stored.get(key.lower())
            exists = entry is not None or any(k.startswith(key.lower() + "\\") for k in stored)
            result[key] = (entry[1] if entry else {}) if exists else None
        return result

    def list_folder(self, folder):
        path = self.host_path(folder)
        if not path.is_dir():
            return None
        return {child.name: (child.read_bytes(), not os.stat(child).st_mode & 0o200)
                for child in path.iterdir() if child.is_file()}

    def _ask(self, *what):
        if what not in self._texts:
            result = subprocess.run([str(self.query), *what], env=dict(os.environ, WINSIM_MACHINE=str(self.machine)),
                                    capture_output=True, check=True, timeout=RUN_TIMEOUT)
            self._texts[what] = result.stdout.decode("utf-8")
        return self._texts[what]

    def system_text(self, code):
        return self._ask("syserr", str(code))

    def language_name(self, lcid):
        return self._ask("lang", f"{lcid:04x}")

    def windows_folder(self):
        return "C:\\WINDOWS"

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)
