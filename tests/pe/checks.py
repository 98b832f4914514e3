"""What a shipped program of the kit must be. Each check returns a list of
problems, empty when the file is right, so that a check can be run on a
file known to be wrong as well as on the programs."""

import xml.etree.ElementTree as ElementTree

import pe

# The loader takes these from the system folder whatever lies beside the
# program (KnownDLLs); any other DLL is searched for in the program's folder
# first and must be loaded by full path at run time instead.
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "msvcrt.dll", "gdi32.dll"}
MINGW_DLL_PREFIXES = ("libgcc", "libstdc++", "libwinpthread", "libssp", "libatomic")

DLLCHAR_HIGH_ENTROPY_VA = 0x0020
DLLCHAR_DYNAMIC_BASE = 0x0040
DLLCHAR_NX_COMPAT = 0x0100
FILE_RELOCS_STRIPPED = 0x0001
SUBSYSTEM_WINDOWS_GUI = 2

ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}

# What each build must say it needs: (machine, subsystem and OS version).
TARGETS = {
    "win32": (pe.MACHINE_I386, (5, 1)),
    "win64": (pe.MACHINE_AMD64, (5, 2)),
}

# The Windows versions a documented minimum may name: Windows XP SP3 has
# everything they introduced.
XP_OR_EARLIER = {"Windows 2000 Professional", "Windows XP", "msvcrt.dll of Windows XP"}


def manifest_problems(image):
    manifests = pe.resources_of_type(image.resources(), pe.RT_MANIFEST)
    if not manifests:
        return ["no manifest (RT_MANIFEST)"]
    # One only: a second one (a toolchain's default manifest, say) would
    # leave it to the loader which one counts.
    if len(manifests) != 1:
        return [f"{len(manifests)} manifests: {sorted(manifests, key=str)}"]
    (name, _), data = next(iter(manifests.items()))
    problems = [] if name == 1 else [f"manifest ID {name!r}, not 1"]
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        return problems + [f"manifest is not XML: {error}"]
    levels = root.findall(f".//{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                          f"{ASM_V3}requestedExecutionLevel")
    if len(levels) != 1:
        problems.append(f"{len(levels)} requestedExecutionLevel elements, not 1")
    else:
        level = levels[0]
        if level.get("level") != "requireAdministrator":
            problems.append(f"execution level {level.get('level')!r}, not 'requireAdministrator'")
        if level.get("uiAccess") != "false":
            problems.append(f"uiAccess {level.get('uiAccess')!r}, not 'false'")
    listed = {e.get("Id", "").lower()
              for e in root.findall(f".//{COMPATIBILITY}compatibility/{COMPATIBILITY}application/"
                                    f"{COMPATIBILITY}supportedOS")}
    for guid, name in SUPPORTED_OS.items():
        if guid not in listed:
            problems.append(f"manifest doesn't declare support for {name}")
    for guid in sorted(listed - SUPPORTED_OS.keys()):
        problems.append(f"manifest declares an unknown supportedOS {guid}")
    return problems


def import_problems(image):
    problems = []
    for dll, _ in image.imports():
        name = dll.lower()
        if name.startswith(MINGW_DLL_PREFIXES):
            problems.append(f"imports the MinGW runtime DLL {dll}")
        elif name not in ALLOWED_DLLS:
            problems.append(f"imports {dll}, which can be planted beside the program")
    for dll in image.delay_import_dlls():
        problems.append(f"delay-loads {dll}, which is searched for beside the program")
    return problems


def hardening_problems(image, target):
    machine, version = TARGETS[target]
    problems = []
    if image.machine != machine:
        problems.append(f"machine {image.machine:#x}, not {machine:#x}")
    if image.subsystem != SUBSYSTEM_WINDOWS_GUI:
        problems.append(f"subsystem {image.subsystem}, not the Windows GUI")
    if image.subsystem_version != version:
        problems.append(f"subsystem version {image.subsystem_version}, not {version}")
    if image.os_version != version:
        problems.append(f"OS version {image.os_version}, not {version}")
    flags = image.dll_characteristics
    if not flags & DLLCHAR_NX_COMPAT:
        problems.append("not marked NX-compatible (DEP)")
    if not flags & DLLCHAR_DYNAMIC_BASE:
        problems.append("not marked DYNAMIC_BASE (ASLR)")
    if image.characteristics & FILE_RELOCS_STRIPPED:
        problems.append("relocations stripped: the loader can't move it")
    if image.relocation_count() == 0:
        problems.append("no base relocations: ASLR can't move it")
    if image.timestamp != 0:
        problems.append(f"time stamp {image.timestamp:#x}: two builds would differ")
    return problems


def version_problems(image, expected):
    """expected: {"version": (1, 5, 0, 0), "text": "1.5", "strings": {...}}."""
    versions = pe.resources_of_type(image.resources(), pe.RT_VERSION)
    if not versions:
        return ["no version resource"]
    if len(versions) != 1:
        return [f"{len(versions)} version resources"]
    info = pe.parse_version(next(iter(versions.values())))
    problems = []
    if info.file_version != expected["version"]:
        problems.append(f"binary FileVersion {info.file_version}, not {expected['version']}")
    if info.product_version != expected["version"]:
        problems.append(f"binary ProductVersion {info.product_version}, not {expected['version']}")
    if info.translations != [(0x0419, 1251)]:
        problems.append(f"translations {info.translations}, not [(0x419, 1251)]")
    strings = info.strings.get("041904E3")
    if strings is None:
        return problems + [f"no string table 041904E3 (has {sorted(info.strings)})"]
    for key, value in expected["strings"].items():
        if strings.get(key) != value:
            problems.append(f"{key} {strings.get(key)!r}, not {value!r}")
    if not strings.get("LegalCopyright"):
        problems.append("no LegalCopyright")
    return problems


def icon_problems(image):
    resources = image.resources()
    groups = pe.resources_of_type(resources, pe.RT_GROUP_ICON)
    if not groups:
        return ["no icon (RT_GROUP_ICON)"]
    icons = {name: data for (name, _), data in pe.resources_of_type(resources, pe.RT_ICON).items()}
    problems = []
    # Windows shows the first group as the program's icon: names come
    # before numbers, each in order.
    def order(key):
        name = key[0]
        return (1, "", name) if isinstance(name, int) else (0, name, 0)
    group = groups[min(groups, key=order)]
    sizes = set()
    for width, height, bits, ident in pe.group_icon_entries(group):
        image_data = icons.get(ident)
        if image_data is None:
            problems.append(f"icon group names missing icon {ident}")
            continue
        header_width, header_height = (int.from_bytes(image_data[4:8], "little", signed=True),
                                       int.from_bytes(image_data[8:12], "little", signed=True))
        if (header_width, header_height) != (width, height * 2):
            problems.append(f"icon {ident} is {header_width}x{header_height // 2}, "
                            f"listed as {width}x{height}")
        sizes.add((width, height))
    for size in ((16, 16), (32, 32)):
        if size not in sizes:
            problems.append(f"no {size[0]}x{size[1]} icon")
    return problems


def read_import_list(path):
    """{(DLL in lower case, function): minimum Windows} from a committed list:
    DLL, function, then the minimum to the end of the line; # starts a comment."""
    listed = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split(None, 2)
            if len(fields) != 3:
                raise ValueError(f"{path}:{number}: expected DLL, function and minimum")
            listed[(fields[0].lower(), fields[1])] = fields[2]
    return listed


def import_list_problems(image, listed):
    imported = {(dll.lower(), name) for dll, names in image.imports() for name in names}
    problems = []
    for dll, name in sorted(imported - listed.keys()):
        problems.append(f"imports {dll} {name}, which the list doesn't name: check that "
                        "Windows XP SP3 has it and add it with its documented minimum")
    for (dll, name), minimum in sorted(listed.items()):
        if minimum not in XP_OR_EARLIER:
            problems.append(f"the list gives {dll} {name} the minimum {minimum!r}, "
                            "later than Windows XP")
    return problems
