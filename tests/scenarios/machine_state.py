"""The scenario tables' way of writing registry values and files, and how a
machine's state is compared with them."""
from pathlib import Path

FIXTURES = Path(".")

REG_SZ, REG_DWORD = 1, 4


def registry_values(spec):
    """{name: spec} as {name: (type, bytes)}; None stays None (no such key).

    A JSON string is REG_SZ text with its terminating NUL; {"dword": n};
    {"type": t, "hex": "30 30"} or {"type": t, "text": "..."} are raw bytes."""
    if spec is None:
        return None
    values = {}
    for name, value in spec.items():
        if isinstance(value, str):
            values[name] = (REG_SZ, value.encode("cp1251") + b"\0")
        elif "dword" in value:
            values[name] = (REG_DWORD, int(value["dword"]).to_bytes(4, "little"))
        elif "hex" in value:
            values[name] = (value.get("type", 3), bytes.fromhex(value["hex"].replace(",", " ")))
        else:
            values[name] = (value.get("type", REG_SZ), value["text"].encode("cp1251"))
    return values


def reg_text(value):
    """A value's data as text, up to its first NUL."""
    return value[1].split(b"\0")[0].decode("cp1251")


def file_state(spec, backend):
    """A file spec as (content bytes, read-only); content None for a folder."""
    if spec is None:
        return None
    readonly = bool(spec.get("readonly"))
    if spec.get("folder"):
        return (None, False)
    if "fixture" in spec:
        return ((FIXTURES / (spec["fixture"] + ".dll")).read_bytes(), readonly)
    if "program" in spec:
        return (backend.program_bytes(spec["program"]), readonly)
    return (spec.get("text", "").encode("utf-8"), readonly)


def parent(path):
    return path.rsplit("\\", 1)[0]


def leaf(path):
    return path.rsplit("\\", 1)[-1]


def show_values(values):
    if values is None:
        return "no key"
    shown = []
    for name, (kind, data) in sorted(values.items()):
        if kind == REG_SZ and data.endswith(b"\0") and b"\0" not in data[:-1]:
            shown.append(f"{name}={data[:-1].decode('cp1251')!r}")
        else:
            shown.append(f"{name}=type {kind} hex {data.hex(' ')}")
    return "{" + ", ".join(shown) + "}"


def show_file(state):
    if state is None:
        return "absent"
    content, readonly = state
    return f"{len(content)} bytes{' read-only' if readonly else ''} {content[:24]!r}"


def show_folder_diff(want, got):
    lines = []
    for name in sorted(set(want) | set(got)):
        if want.get(name) != got.get(name):
            lines.append(f"{name}: want {show_file(want.get(name))}, got {show_file(got.get(name))}")
    return "; ".join(lines)
