"""Wine as a scenario backend: the 64-bit Windows programs run under Wine on
an Xvfb display, and a driver answers their message boxes as a user would.

One prefix, one persistent wineserver and one display serve the whole run.
The machine is set up and read back with Wine's own reg and with our tools
(tools/: uidriver, syshelper, holder), never with the simulated machine's
code. Run as root, Wine runs as an unprivileged user: Wine maps the DOS
read-only attribute to the file's write bits, and root writes through them.
"""
import atexit
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

LOCALES = {"ru": ("ru_RU.UTF-8", 1251), "en": ("en_US.UTF-8", 1252)}
WINE_USER = 65534  # nobody
# Trees the kit's programs write to, cleared before every scenario.
UNINSTALL_LIST = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
KIT_KEYS = ["Software\\Borland", UNINSTALL_LIST + "\\Velkor"]
BOOT_TIMEOUT = 300
COMMAND_TIMEOUT = 60
BOX_TIMEOUT = 20  # the driver ends a program that shows nothing for this long
FIRST_DISPLAY = 90


class WineError(RuntimeError):
    pass


def key_in_32bit_view(key):
    """The key's path as the 64-bit registry holds the 32-bit view: reg import
    applies /reg:32 to the keys it adds but not to those it deletes."""
    if key.lower().startswith("software\\"):
        return "Software\\Wow6432Node\\" + key[len("software\\"):]
    return key


def reg_quote(name):
    return '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'


def program_of(command_line):
    """The program's Windows path: the command line's first token."""
    if command_line.startswith('"'):
        return command_line[1:].split('"', 1)[0]
    return command_line.split()[0]


def folder_of(windows_path):
    return windows_path.rsplit("\\", 1)[0] if "\\" in windows_path else windows_path


def stop_process_group(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def sweep_stale_runs():
    """What a run that was killed outright left behind: its Wine processes
    (they outlive their server) and its folder."""
    for root in Path(tempfile.gettempdir()).glob("velkor-wine-*"):
        try:
            owner = int((root / "owner").read_text())
        except (OSError, ValueError):
            continue
        if Path(f"/proc/{owner}").exists():
            continue
        entry = f"\0WINEPREFIX={root / 'prefix'}\0".encode()
        for process in Path("/proc").iterdir():
            try:
                if process.name.isdigit() and entry in b"\0" + (process / "environ").read_bytes():
                    os.kill(int(process.name), signal.SIGKILL)
            except OSError:
                pass
        server = (root / "server").read_text() if (root / "server").exists() else ""
        if server:
            shutil.rmtree(server, ignore_errors=True)
        shutil.rmtree(root, ignore_errors=True)


def end_on_term():
    """A run ended with SIGTERM (a CI time limit) still cleans up: the signal
    becomes SystemExit, so close() runs."""
    if signal.getsignal(signal.SIGTERM) is signal.SIG_DFL:
        try:
            signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))
        except ValueError:  # not the main thread
            pass


class WineBackend:
    name = "wine"
    # The part of a box's style the driver can see: buttons, icon, default
    # button. Modality (MB_TASKMODAL) leaves no trace on the box.
    style_mask = 0x0FFF

    def __init__(self, programs_dir, tools_dir, language):
        self.programs = Path(programs_dir)
        self.tools = Path(tools_dir)
        self.language = language
        self.locale, self.code_page = LOCALES[language]
        sweep_stale_runs()
        self.root = Path(tempfile.mkdtemp(prefix="velkor-wine-"))
        (self.root / "owner").write_text(str(os.getpid()))
        self.prefix = self.root / "prefix"
        self.xvfb = None
        self.holder = None
        self.closed = False
        self.server = None
        self.server_folder = None
        self.baseline = {}          # pre-existing host folder -> names it held
        self.created = set()        # host folders the tier made
        self.texts = {}
        self.runs = 0
        self.shots = os.environ.get("VELKOR_WINE_SHOTS")
        self.box_timeout = BOX_TIMEOUT
        atexit.register(self.close)
        end_on_term()
        try:
            self._start_display()
            self._make_prefix()
            self._check_code_page()
        except BaseException:
            self.close()
            raise

    # Processes -------------------------------------------------------------
    def _env(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "WINE"))}
        env.update(
            WINEPREFIX=str(self.prefix),
            WINEARCH="win64",
            WINEDEBUG="-all",
            # No Mono/Gecko prompts offline; a crash ends the program, no debugger.
            WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d",
            DISPLAY=self.display,
            LANG=self.locale,
            LC_ALL=self.locale,
            HOME=str(self.root / "home"),
        )
        if os.geteuid() == 0:
            env["USER"] = env["LOGNAME"] = "nobody"
        return env

    def _as_wine_user(self, command, end_with_us=False):
        prefix = ["setpriv"]
        if end_with_us:
            # Told to end when this process ends, however it ends.
            prefix += ["--pdeathsig", "TERM"]
        if os.geteuid() == 0:
            prefix += [f"--reuid={WINE_USER}", f"--regid={WINE_USER}", "--clear-groups"]
        return prefix + ["--"] + command if len(prefix) > 1 else command

    def _give_to_wine_user(self, path):
        if os.geteuid() == 0:
            os.chown(path, WINE_USER, WINE_USER, follow_symlinks=False)

    def _spawn(self, command, **options):
        return subprocess.Popen(self._as_wine_user(command), env=self._env(), start_new_session=True,
                                **options)

    def _call(self, command, timeout=COMMAND_TIMEOUT, check=True, capture=True):
        """Runs a command as the Wine user; one that hangs is ended and reported.
        Without capture, for commands that leave Wine's background processes
        running: those would hold the pipes open."""
        if capture:
            process = self._spawn(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE)
        else:
            with open(self.root / "wine.log", "ab") as log:
                process = self._spawn(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            stop_process_group(process)
            raise WineError(f"{' '.join(command[:3])} did not finish in {timeout} s")
        if check and process.returncode != 0:
            if not capture:
                err = (self.root / "wine.log").read_bytes()
            raise WineError(f"{' '.join(command[:3])} failed ({process.returncode}): "
                            f"{err.decode('utf-8', 'replace').strip()[-1500:]}")
        return out

    def _wine(self, *args, timeout=COMMAND_TIMEOUT, check=True):
        return self._call(["wine", *args], timeout=timeout, check=check)

    def _tool(self, name):
        return self.windows_path_of(self.tools / f"{name}.exe")

    def _json_lines(self, out):
        return [json.loads(line) for line in out.decode("utf-8").splitlines() if line.startswith("{")]

    # Set-up ----------------------------------------------------------------
    def _start_display(self):
        """An Xvfb display of our own. Its number is chosen here, not with
        -displayfd: that leaves no lock file, and another X server started
        meanwhile may take the same number."""
        for number in range(FIRST_DISPLAY, FIRST_DISPLAY + 100):
            if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
                continue
            self.xvfb = subprocess.Popen(
                ["setpriv", "--pdeathsig", "TERM", "--",
                 "Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
            deadline = time.monotonic() + 30
            while self.xvfb.poll() is None and time.monotonic() < deadline:
                if Path(f"/tmp/.X11-unix/X{number}").exists():
                    self.display = f":{number}"
                    return
                time.sleep(0.05)
            # Taken by another server meanwhile, or Xvfb is stuck: the next one.
            self._stop_display()
        raise WineError("no Xvfb display could be started")

    def _stop_display(self):
        if self.xvfb is None:
            return
        # Asked to end, Xvfb removes its socket and lock file.
        self.xvfb.terminate()
        try:
            self.xvfb.wait(timeout=10)
        except subprocess.TimeoutExpired:
            stop_process_group(self.xvfb)
        self.xvfb = None

    def _make_prefix(self):
        self.root.chmod(0o755)
        for folder in (self.prefix, self.root / "home"):
            folder.mkdir()
            self._give_to_wine_user(folder)
        self._start_server()
        self._call(["wine", "wineboot", "-i"], timeout=BOOT_TIMEOUT, capture=False)
        # While the new prefix fills, its desktop may start before explorer.exe
        # exists and then stays without a display driver: start afresh.
        self._restart_server()
        self._import_registry([
            # Wine draws the boxes' title bars itself: Xvfb has no window manager.
            "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]", '"Managed"="N"',
            # Every Windows has the list of installed programs in both views; a
            # Wine prefix without 32-bit Wine lacks it in the 32-bit view.
            f"[HKEY_LOCAL_MACHINE\\{key_in_32bit_view(UNINSTALL_LIST)}]"])
        self.windir = self._ask("windir")["windir"]
        self._note_baseline(self.host_path(self.windir))

    def _check_code_page(self):
        acp = self._ask("acp")["acp"]
        if acp != self.code_page:
            raise WineError(f"Wine's ANSI code page is {acp}, not {self.code_page}: "
                            f"is the locale {self.locale} generated?")

    def _ask(self, *request):
        lines = self._json_lines(self._wine(self._tool("syshelper"), *request))
        if len(lines) != 1:
            raise WineError(f"syshelper {' '.join(request)}: {lines}")
        return lines[0]

    def _import_registry(self, lines):
        path = self.root / "import.reg"
        text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
        path.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
        path.chmod(0o644)
        self._wine("reg", "import", self.windows_path_of(path), "/reg:64")

    # Paths -----------------------------------------------------------------
    def windows_path_of(self, host):
        return "Z:" + str(Path(host).resolve()).replace("/", "\\")

    def host_path(self, windows_path):
        """The file under the prefix's drives, names matched without regard to case."""
        drive, _, rest = windows_path.partition(":")
        path = self.prefix / "dosdevices" / f"{drive.lower()}:"
        path = path.resolve()
        for part in [p for p in rest.replace("/", "\\").split("\\") if p]:
            match = None
            if path.is_dir():
                match = next((c for c in path.iterdir() if c.name.lower() == part.lower()), None)
            path = match if match is not None else path / part
        return path

    def _note_baseline(self, folder):
        if folder.is_dir() and folder not in self.baseline and not self._made_by_tier(folder):
            self.baseline[folder] = {child.name for child in folder.iterdir()}

    def _made_by_tier(self, path):
        return any(path == made or made in path.parents for made in self.created)

    def _make_folder(self, folder):
        missing = []
        while not folder.exists():
            missing.append(folder)
            folder = folder.parent
        self._note_baseline(folder)
        for path in reversed(missing):
            path.mkdir()
            self._give_to_wine_user(path)
        if missing:
            self.created.add(missing[-1])

    # Clean-up of what earlier scenarios left ---------------------------------
    @staticmethod
    def _remove(path):
        if path.is_dir() and not path.is_symlink():
            for child in path.rglob("*"):
                if not child.is_symlink():
                    child.chmod(0o755 if child.is_dir() else 0o644)
            shutil.rmtree(path)
        else:
            path.unlink(missing_ok=True)

    def _clear_files(self):
        for made in sorted(self.created, key=lambda p: len(p.parts)):
            if made.exists():
                self._remove(made)
        self.created.clear()
        for folder, names in self.baseline.items():
            if folder.is_dir():
                for child in folder.iterdir():
                    if child.name not in names:
                        self._remove(child)

    def _stop_holder(self):
        if self.holder is None:
            return
        try:
            self.holder.stdin.close()
            self.holder.wait(timeout=15)
        except (subprocess.TimeoutExpired, OSError):
            stop_process_group(self.holder)
        self.holder.stdout.close()
        self.holder = None

    def _hold(self, paths):
        # Unbuffered, so that select() sees every line still unread.
        self.holder = self._spawn(["wine", self._tool("holder"), *paths], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)
        deadline = time.monotonic() + COMMAND_TIMEOUT
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.holder.stdout], [], [], deadline - time.monotonic())
            if not ready:
                break
            line = self.holder.stdout.readline()
            if not line:
                break
            report = json.loads(line)
            if "ready" in report:
                if not report["ready"]:
                    raise WineError(f"holder could not open all of {paths}")
                return
        stop_process_group(self.holder)
        self.holder = None
        raise WineError("holder did not open the held files")

    # Backend interface -------------------------------------------------------
    def reset(self, registry, files, held, failures, locked_keys):
        if failures or locked_keys:
            raise WineError("injected failures and locked keys exist on the simulated machine only")
        # Files are held while the programs run: see run().
        self._stop_holder()
        self._reset_registry(registry)
        self._clear_files()
        self._place_files(files)

    def _reset_registry(self, registry):
        """Wine's reg clears the kit's trees and makes the keys; the values are
        set with RegSetValueExA, as the kit sets them, since reg import adds a
        NUL to string data that has none."""
        lines = [f"[-HKEY_LOCAL_MACHINE\\{key_in_32bit_view(key)}]" for key in KIT_KEYS]
        others = [k for k in registry if not any(k.lower().startswith(r.lower() + "\\") or
                                                 k.lower() == r.lower() for r in KIT_KEYS)]
        present = self.read_registry(others) if others else {}
        settings = []
        for key, values in registry.items():
            lines.append(f"[HKEY_LOCAL_MACHINE\\{key_in_32bit_view(key)}]")
            wanted = {name.lower() for name in values}
            for name in (present.get(key) or {}):
                if name.lower() not in wanted:
                    lines.append(("@" if name == "" else reg_quote(name)) + "=-")
            for name, (kind, data) in values.items():
                settings += ["regset", key, name, str(kind), data.hex()]
        self._import_registry(lines)
        if settings:
            for line in self._json_lines(self._wine(self._tool("syshelper"), *settings)):
                if line.get("status") != 0:
                    raise WineError(f"could not set {line}")

    def _place_files(self, files):
        for windows_path, (content, readonly) in files.items():
            path = self.host_path(windows_path)
            if content is None:
                self._make_folder(path)
                continue
            self._make_folder(path.parent)
            if path.exists():
                path.chmod(0o644)
            path.write_bytes(content)
            self._give_to_wine_user(path)
            # Wine shows a file without write bits as read-only.
            path.chmod(0o444 if readonly else 0o644)

    def program_bytes(self, name):
        return (self.programs / f"{name}.exe").read_bytes()

    def run(self, command_line, answers, held=(), failures=()):
        if failures:
            raise WineError("injected failures exist on the simulated machine only")
        if held:
            self._hold(list(held))
        try:
            return self._run_driver(command_line, answers)
        finally:
            self._stop_holder()

    def _run_driver(self, command_line, answers):
        self.runs += 1
        command = ["wine", self._tool("uidriver"), "--answers", ",".join(answers),
                   "--timeout", str(self.box_timeout), "--dir", folder_of(program_of(command_line))]
        shots = self.root / "shots"
        if self.shots:
            # The driver saves them where the Wine user may write; they are
            # handed over to VELKOR_WINE_SHOTS afterwards.
            shutil.rmtree(shots, ignore_errors=True)
            shots.mkdir()
            self._give_to_wine_user(shots)
            command += ["--shots", self.windows_path_of(shots)]
        command += ["--", command_line]
        # Each box may take the driver its timeout to settle and be answered.
        limit = self.box_timeout + (len(answers) + 1) * 30 + 30
        try:
            out = self._call(command, timeout=limit, check=False)
        except WineError:
            self._restart_server()
            return "timeout", []
        exit_code, boxes = self._driver_result(self._json_lines(out))
        if self.shots:
            self._keep_shots(shots, boxes)
        return exit_code, boxes

    def _keep_shots(self, shots, boxes):
        kept = Path(self.shots) / f"run{self.runs:03d}"
        kept.mkdir(parents=True, exist_ok=True)
        for number, box in enumerate(boxes, 1):
            shot = shots / f"box{number}.png"
            if shot.exists():
                shutil.copyfile(shot, kept / shot.name)
                box["shot"] = str(kept / shot.name)

    def _driver_result(self, lines):
        exit_code, boxes = None, []
        for line in lines:
            if "error" in line:
                raise WineError(f"uidriver: {line}")
            if "caption" in line:
                has_cancel = any(b["id"] == 2 for b in line["buttons"])
                answer = line["answer"]
                if answer == "CLOSE":
                    # Closing a box ends it as its Cancel button would.
                    answer = "CANCEL" if has_cancel else "OK"
                boxes.append({"caption": line["caption"], "text": line["text"], "style": line["style"],
                              "answer": answer, "icon": line["icon"], "buttons": line["buttons"],
                              "shot": line["shot"]})
            if "exit" in line:
                exit_code = line["exit"] if line["exit"] is not None else line.get("stopped", "stopped")
        if exit_code == "timeout":
            self._restart_server()
        return exit_code, boxes

    def _start_server(self):
        """The run's one wineserver, kept in the foreground as our child, so
        that it ends, and every Wine process with it, when we end."""
        with open(self.root / "wine.log", "ab") as log:
            self.server = subprocess.Popen(self._as_wine_user(["wineserver", "-f", "-p"], end_with_us=True),
                                           env=self._env(), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                           start_new_session=True)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and self.server.poll() is None:
            try:
                folder = Path(os.readlink(f"/proc/{self.server.pid}/cwd"))
            except OSError:
                folder = None
            if folder is not None and (folder / "socket").exists():
                # Wine's folder for the server's socket, made anew for each server.
                self.server_folder = folder.parent if folder.parent.name.startswith("wine-") else None
                (self.root / "server").write_text(str(self.server_folder or ""))
                return
            time.sleep(0.05)
        raise WineError("wineserver did not start")

    def _stop_server(self):
        if self.server is None:
            return
        try:
            # Ends every Wine process of the prefix, then the server.
            self._call(["wineserver", "-k"], timeout=30, check=False)
        except WineError:
            pass
        try:
            self.server.wait(timeout=30)
        except subprocess.TimeoutExpired:
            stop_process_group(self.server)
        self.server = None
        if self.server_folder is not None:
            shutil.rmtree(self.server_folder, ignore_errors=True)
            self.server_folder = None

    def _restart_server(self):
        """After a hang: end every Wine process and start a fresh server."""
        self._stop_holder()
        self._stop_server()
        self._start_server()
        # The first program after the server starts also starts Wine's
        # services, which would hold a captured program's pipes open.
        self._call(["wine", "wineboot"], timeout=BOOT_TIMEOUT, capture=False)

    def read_registry(self, keys):
        request = []
        for key in keys:
            request += ["regread", key]
        result = {}
        for line, key in zip(self._json_lines(self._wine(self._tool("syshelper"), *request)), keys):
            if line["values"] is None:
                result[key] = None
                continue
            if any(data is None for _, _, data in line["values"]):
                raise WineError(f"syshelper could not read a value: {line}")
            result[key] = {name: (kind, bytes.fromhex(data)) for name, kind, data in line["values"]}
        if len(result) != len(keys):
            raise WineError(f"syshelper read {len(result)} of {len(keys)} keys")
        return result

    def list_folder(self, folder):
        path = self.host_path(folder)
        if not path.is_dir():
            return None
        return {child.name: (child.read_bytes(), not child.stat().st_mode & 0o222)
                for child in path.iterdir() if child.is_file()}

    def _cached(self, *request):
        if request not in self.texts:
            self.texts[request] = self._ask(*request)
        return self.texts[request]

    def system_text(self, code):
        return self._cached("syserr", str(code))["text"]

    def language_name(self, lcid):
        return self._cached("lang", f"{lcid:04x}")["name"]

    def windows_folder(self):
        return self.windir

    def close(self):
        if self.closed:
            return
        self.closed = True
        self._stop_holder()
        self._stop_server()
        self._stop_display()
        shutil.rmtree(self.root, ignore_errors=True)
