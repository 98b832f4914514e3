// The registry services, kept in the machine's registry.reg (REGEDIT4 text,
// Windows-1251) and rewritten whole, atomically, after every change.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "codepage.h"
#include "machine.h"

namespace fs = std::filesystem;
using win::DWORD;
using win::HKEY;
using win::LSTATUS;
using win::REGSAM;

namespace winsim {
namespace {

struct RegValue {
    std::string name;  // empty for the default value
    DWORD type = win::REG_NONE;
    std::string data;
};

struct RegKey {
    std::string path;  // full path from the root key, as first spelled
    std::vector<RegValue> values;
};

struct Registry {
    bool loaded = false;
    unsigned generation = 0;
    std::vector<RegKey> keys;         // one per section, in file order
    std::vector<std::string> locked;  // full key paths
};

struct KeyHandle {
    std::string path;
    REGSAM access = 0;
};

const char* const kLocalMachine = "HKEY_LOCAL_MACHINE";
const char* const kCurrentUser = "HKEY_CURRENT_USER";
const HKEY kCurrentUserKey = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});

constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kKeyRead = 0x20019;
constexpr REGSAM kKeyWrite = 0x20006;
constexpr REGSAM kKeyAllAccess = 0xF003F;
constexpr REGSAM kWriteRights = win::KEY_SET_VALUE | win::KEY_CREATE_SUB_KEY |
                                win::KEY_CREATE_LINK | win::WRITE_DAC | win::WRITE_OWNER |
                                win::DELETE_ACCESS;

// ---- names and paths ----

bool SamePath(const std::string& a, const std::string& b) {
    return SameName1251(a, b);
}

// True when path is key itself or one of its sub-keys.
bool IsWithin(const std::string& path, const std::string& key) {
    if (path.size() == key.size()) return SamePath(path, key);
    return path.size() > key.size() && path[key.size()] == '\\' &&
           SamePath(path.substr(0, key.size()), key);
}

std::vector<std::string> PathParts(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(path);
    while (std::getline(in, part, '\\'))
        if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string JoinedPath(const std::string& base, const char* subKey) {
    std::string path = base;
    if (subKey != nullptr)
        for (const std::string& part : PathParts(subKey)) path += "\\" + part;
    return path;
}

// The root key a section names, spelled the standard way; empty if unknown.
std::string StandardRoot(const std::string& name) {
    if (SamePath(name, kLocalMachine) || SamePath(name, "HKLM")) return kLocalMachine;
    if (SamePath(name, kCurrentUser) || SamePath(name, "HKCU")) return kCurrentUser;
    return {};
}

std::string NormalizedKeyPath(const std::string& path) {
    std::vector<std::string> parts = PathParts(path);
    if (parts.empty()) return {};
    std::string root = StandardRoot(parts[0]);
    if (root.empty()) return {};
    for (size_t i = 1; i < parts.size(); ++i) root += "\\" + parts[i];
    return root;
}

// ---- the machine files ----

[[noreturn]] void BadRegistryFile(size_t lineNumber, const std::string& why) {
    std::fprintf(stderr, "winsim: registry.reg line %zu: %s\n", lineNumber, why.c_str());
    std::exit(1);
}

bool ReadQuoted(const std::string& line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < line.size()) c = line[++pos];
        out += c;
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadHexBytes(const std::string& text, std::string& out) {
    std::string token;
    std::istringstream in(text);
    while (std::getline(in, token, ',')) {
        size_t first = token.find_first_not_of(" \t");
        size_t last = token.find_last_not_of(" \t");
        if (first == std::string::npos) {
            if (in.eof() && out.empty()) return true;  // "hex:" with no bytes
            return false;
        }
        token = token.substr(first, last - first + 1);
        if (token.size() > 2) return false;
        int value = 0;
        for (char c : token) {
            int digit = HexDigit(c);
            if (digit < 0) return false;
            value = value * 16 + digit;
        }
        out += static_cast<char>(value);
    }
    return true;
}

bool ReadUnsignedHex(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 8) return false;
    value = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    return value <= max;
}

// Parses what follows "=" in a value line.
bool ReadValueData(const std::string& text, RegValue& value) {
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        if (!ReadQuoted(text, pos, value.data) || pos != text.size()) return false;
        value.type = win::REG_SZ;
        value.data += '\0';
        return true;
    }
    if (text.compare(0, 6, "dword:") == 0) {
        unsigned long number = 0;
        if (!ReadUnsignedHex(text.substr(6), 0xFFFFFFFF, number)) return false;
        value.type = win::REG_DWORD;
        for (int i = 0; i < 4; ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xFF);
        return true;
    }
    if (text.compare(0, 4, "hex:") == 0) {
        value.type = win::REG_BINARY;
        return ReadHexBytes(text.substr(4), value.data);
    }
    if (text.compare(0, 4, "hex(") == 0) {
        size_t close = text.find("):");
        unsigned long type = 0;
        if (close == std::string::npos || !ReadUnsignedHex(text.substr(4, close - 4), 0xFFFFFFFF, type))
            return false;
        value.type = static_cast<DWORD>(type);
        return ReadHexBytes(text.substr(close + 2), value.data);
    }
    return false;
}

RegKey* FindSection(Registry& registry, const std::string& path) {
    for (RegKey& key : registry.keys)
        if (SamePath(key.path, path)) return &key;
    return nullptr;
}

RegValue* FindValue(RegKey& key, const std::string& name) {
    for (RegValue& value : key.values)
        if (SamePath(value.name, name)) return &value;
    return nullptr;
}

void PutValue(RegKey& key, RegValue value) {
    if (RegValue* existing = FindValue(key, value.name)) {
        existing->type = value.type;
        existing->data = std::move(value.data);
    } else {
        key.values.push_back(std::move(value));
    }
}

std::vector<std::string> FileLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void ParseRegistryFile(Registry& registry, const fs::path& file) {
    std::vector<std::string> lines = FileLines(file);
    size_t i = 0;
    while (i < lines.size() && Trimmed(lines[i]).empty()) ++i;
    if (i == lines.size()) return;
    if (Trimmed(lines[i]) != "REGEDIT4") BadRegistryFile(i + 1, "REGEDIT4 expected");
    RegKey* section = nullptr;
    for (++i; i < lines.size(); ++i) {
        size_t lineNumber = i + 1;
        std::string line = Trimmed(lines[i]);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close == std::string::npos) BadRegistryFile(lineNumber, "] expected");
            std::string name = line.substr(1, close - 1);
            bool remove = !name.empty() && name[0] == '-';
            std::string path = NormalizedKeyPath(remove ? name.substr(1) : name);
            if (path.empty()) BadRegistryFile(lineNumber, "unknown root key");
            if (remove) {
                std::erase_if(registry.keys, [&](const RegKey& key) { return IsWithin(key.path, path); });
                section = nullptr;
                continue;
            }
            section = FindSection(registry, path);
            if (section == nullptr) {
                registry.keys.push_back(RegKey{path, {}});
                section = &registry.keys.back();
            }
            continue;
        }
        if (section == nullptr) BadRegistryFile(lineNumber, "value outside a key");
        RegValue value;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(line, pos, value.name)) {
            BadRegistryFile(lineNumber, "value name expected");
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=') BadRegistryFile(lineNumber, "= expected");
        std::string data = Trimmed(line.substr(pos + 1));
        if (data.compare(0, 3, "hex") == 0) {
            while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
                data.pop_back();
                data += Trimmed(lines[++i]);
            }
        }
        if (data == "-") {
            std::erase_if(section->values, [&](const RegValue& v) { return SamePath(v.name, value.name); });
            continue;
        }
        if (!ReadValueData(data, value)) BadRegistryFile(lineNumber, "value data not understood");
        PutValue(*section, std::move(value));
    }
}

std::vector<std::string> LockedKeys() {
    std::vector<std::string> locked;
    std::ifstream in(MachineDir() / "locked_keys", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        line = Trimmed(line.substr(0, line.find('\r')));
        if (line.empty() || line[0] == '#') continue;
        std::string path = NormalizedKeyPath(Utf8ToCp1251(line));
        if (!path.empty()) locked.push_back(path);
    }
    return locked;
}

Registry& LoadedRegistry() {
    static Registry registry;
    if (!registry.loaded || registry.generation != MachineGeneration()) {
        registry = Registry{};
        registry.generation = MachineGeneration();
        ParseRegistryFile(registry, MachineDir() / "registry.reg");
        registry.locked = LockedKeys();
        registry.loaded = true;
    }
    return registry;
}

// ---- writing ----

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// A REG_SZ goes out quoted only when reading it back gives the same bytes.
bool QuotableText(const RegValue& value) {
    if (value.type != win::REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
    return value.data.find_first_of(std::string("\0\r\n", 3)) == value.data.size() - 1;
}

std::string HexData(const std::string& prefix, const std::string& data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    std::string line = prefix;
    for (size_t i = 0; i < data.size(); ++i) {
        auto byte = static_cast<unsigned char>(data[i]);
        std::string token{digits[byte >> 4], digits[byte & 15]};
        if (i == 0) {
            line += token;
        } else if (line.size() + 3 > 76) {
            out += line + ",\\\r\n";
            line = "  " + token;
        } else {
            line += "," + token;
        }
    }
    return out + line + "\r\n";
}

std::string ValueLine(const RegValue& value) {
    std::string name = value.name.empty() ? "@=" : "\"" + Escaped(value.name) + "\"=";
    if (QuotableText(value))
        return name + "\"" + Escaped(value.data.substr(0, value.data.size() - 1)) + "\"\r\n";
    if (value.type == win::REG_DWORD && value.data.size() == 4) {
        unsigned long number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08lx", number);
        return name + text + "\r\n";
    }
    if (value.type == win::REG_BINARY) return HexData(name + "hex:", value.data);
    char type[24];
    std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
    return HexData(name + type, value.data);
}

std::string RegistryFileText(const Registry& registry) {
    std::string text = "REGEDIT4\r\n\r\n";
    for (const RegKey& key : registry.keys) {
        text += "[" + key.path + "]\r\n";
        for (const RegValue& value : key.values)
            if (value.name.empty()) text += ValueLine(value);
        for (const RegValue& value : key.values)
            if (!value.name.empty()) text += ValueLine(value);
        text += "\r\n";
    }
    return text;
}

bool WriteWhole(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// Writes a temporary file beside registry.reg and renames it over, so the
// file on disk is always either the old or the new registry.
bool SaveRegistry(const Registry& registry) {
    fs::path target = MachineDir() / "registry.reg";
    fs::path temporary = MachineDir() / ("registry.reg." + std::to_string(::getpid()) + ".tmp");
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool written = WriteWhole(fd, RegistryFileText(registry)) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// ---- keys ----

bool IsRoot(const std::string& path) {
    return path.find('\\') == std::string::npos;
}

bool KeyExists(const Registry& registry, const std::string& path) {
    if (IsRoot(path)) return true;
    for (const RegKey& key : registry.keys)
        if (IsWithin(key.path, path)) return true;
    return false;
}

bool HasSubKeys(const Registry& registry, const std::string& path) {
    for (const RegKey& key : registry.keys)
        if (key.path.size() > path.size() && IsWithin(key.path, path)) return true;
    return false;
}

// The path as the registry spells the parts that already exist.
std::string Spelled(const Registry& registry, const std::string& path) {
    std::string spelled = path;
    size_t longest = 0;
    for (const RegKey& key : registry.keys) {
        size_t common = 0;
        for (size_t end = 0; end <= std::min(key.path.size(), path.size()); ++end) {
            bool boundary = (end == key.path.size() || key.path[end] == '\\') &&
                            (end == path.size() || path[end] == '\\');
            if (!boundary) continue;
            if (!SamePath(key.path.substr(0, end), path.substr(0, end))) break;
            common = end;
        }
        if (common > longest) {
            longest = common;
            spelled = key.path.substr(0, common) + path.substr(common);
        }
    }
    return spelled;
}

bool IsLocked(const Registry& registry, const std::string& path) {
    for (const std::string& locked : registry.locked)
        if (SamePath(locked, path)) return true;
    return false;
}

REGSAM GrantedRights(REGSAM desired) {
    REGSAM rights = desired & ~(win::KEY_WOW64_32KEY | win::KEY_WOW64_64KEY | kMaximumAllowed);
    if (desired & kGenericRead) rights |= kKeyRead;
    if (desired & kGenericWrite) rights |= kKeyWrite;
    if (desired & (kGenericAll | kMaximumAllowed)) rights |= kKeyAllAccess;
    return rights & ~(kGenericRead | kGenericWrite | kGenericAll);
}

bool WantsWrite(REGSAM rights) {
    return (rights & kWriteRights) != 0;
}

std::set<const KeyHandle*>& OpenHandles() {
    static std::set<const KeyHandle*> handles;
    return handles;
}

HKEY NewHandle(const std::string& path, REGSAM rights) {
    static std::vector<std::unique_ptr<KeyHandle>> handles;
    handles.push_back(std::make_unique<KeyHandle>(KeyHandle{path, rights}));
    OpenHandles().insert(handles.back().get());
    return reinterpret_cast<HKEY>(handles.back().get());
}

// The handle behind key, the root keys included; null when key is no handle.
std::optional<KeyHandle> Handle(HKEY key) {
    if (key == win::HKEY_LOCAL_MACHINE) return KeyHandle{kLocalMachine, kKeyAllAccess};
    if (key == kCurrentUserKey) return KeyHandle{kCurrentUser, kKeyAllAccess};
    auto* handle = reinterpret_cast<const KeyHandle*>(key);
    if (OpenHandles().count(handle) == 0) return std::nullopt;
    return *handle;
}

// The nearest key at or above path that exists.
std::string ExistingAncestor(const Registry& registry, std::string path) {
    while (!KeyExists(registry, path)) path = path.substr(0, path.rfind('\\'));
    return path;
}

// Keeps a parent that existed only through this key from vanishing with it.
void KeepParent(Registry& registry, const std::string& path) {
    std::string parent = path.substr(0, path.rfind('\\'));
    if (!IsRoot(parent) && FindSection(registry, parent) == nullptr)
        registry.keys.push_back(RegKey{parent, {}});
}

}  // namespace

std::optional<std::string> RegistryText(const std::string& keyPath, const std::string& valueName) {
    Registry& registry = LoadedRegistry();
    RegKey* key = FindSection(registry, NormalizedKeyPath(keyPath));
    if (key == nullptr) return std::nullopt;
    RegValue* value = FindValue(*key, valueName);
    if (value == nullptr) return std::nullopt;
    if (value->type != win::REG_SZ && value->type != win::REG_EXPAND_SZ &&
        value->type != win::REG_MULTI_SZ)
        return std::nullopt;
    return value->data.substr(0, value->data.find('\0'));
}

}  // namespace winsim

namespace win {

using namespace winsim;

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM samDesired, HKEY* result) {
    DWORD code = 0;
    if (InjectedFailure("RegOpenKeyExA", code)) return static_cast<LSTATUS>(code);
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    std::optional<KeyHandle> parent = Handle(key);
    if (!parent) return ERROR_INVALID_HANDLE;
    Registry& registry = LoadedRegistry();
    if (!KeyExists(registry, parent->path)) return ERROR_KEY_DELETED;
    std::string path = Spelled(registry, JoinedPath(parent->path, subKey));
    if (!KeyExists(registry, path)) return ERROR_FILE_NOT_FOUND;
    REGSAM rights = GrantedRights(samDesired);
    if (WantsWrite(rights) && IsLocked(registry, path)) return ERROR_ACCESS_DENIED;
    *result = NewHandle(path, rights);
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM samDesired, void*,
                        HKEY* result, DWORD* disposition) {
    DWORD code = 0;
    if (InjectedFailure("RegCreateKeyExA", code)) return static_cast<LSTATUS>(code);
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    std::optional<KeyHandle> parent = Handle(key);
    if (!parent) return ERROR_INVALID_HANDLE;
    Registry& registry = LoadedRegistry();
    if (!KeyExists(registry, parent->path)) return ERROR_KEY_DELETED;
    std::string path = Spelled(registry, JoinedPath(parent->path, subKey));
    REGSAM rights = GrantedRights(samDesired);
    bool exists = KeyExists(registry, path);
    if (!exists) {
        // Creating needs the right on the parent handle and on the key the
        // new one goes beneath.
        if (!(parent->access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        if (IsLocked(registry, ExistingAncestor(registry, path))) return ERROR_ACCESS_DENIED;
    }
    if (WantsWrite(rights) && IsLocked(registry, path)) return ERROR_ACCESS_DENIED;
    if (!exists) {
        registry.keys.push_back(RegKey{path, {}});
        if (!SaveRegistry(registry)) {
            registry.keys.pop_back();
            return ERROR_ACCESS_DENIED;
        }
    }
    *result = NewHandle(path, rights);
    if (disposition != nullptr) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD*, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
    DWORD code = 0;
    if (InjectedFailure("RegQueryValueExA", code)) return static_cast<LSTATUS>(code);
    std::optional<KeyHandle> handle = Handle(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    if (!(handle->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    Registry& registry = LoadedRegistry();
    if (!KeyExists(registry, handle->path)) return ERROR_KEY_DELETED;
    RegKey* section = FindSection(registry, handle->path);
    RegValue* value = section == nullptr ? nullptr : FindValue(*section, valueName ? valueName : "");
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = value->type;
    auto size = static_cast<DWORD>(value->data.size());
    if (data != nullptr && size > *dataSize) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr) std::memcpy(data, value->data.data(), size);
    if (dataSize != nullptr) *dataSize = size;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    DWORD code = 0;
    if (InjectedFailure("RegSetValueExA", code)) return static_cast<LSTATUS>(code);
    std::optional<KeyHandle> handle = Handle(key);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
    if (!(handle->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    Registry& registry = LoadedRegistry();
    if (!KeyExists(registry, handle->path)) return ERROR_KEY_DELETED;
    Registry before = registry;
    RegKey* section = FindSection(registry, handle->path);
    if (section == nullptr) {
        registry.keys.push_back(RegKey{handle->path, {}});
        section = &registry.keys.back();
    }
    std::string bytes = data == nullptr ? std::string()
                                        : std::string(reinterpret_cast<const char*>(data), dataSize);
    PutValue(*section, RegValue{valueName ? valueName : "", type, std::move(bytes)});
    if (!SaveRegistry(registry)) {
        registry = std::move(before);
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    DWORD code = 0;
    if (InjectedFailure("RegDeleteKeyA", code)) return static_cast<LSTATUS>(code);
    std::optional<KeyHandle> parent = Handle(key);
    if (!parent) return ERROR_INVALID_HANDLE;
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    Registry& registry = LoadedRegistry();
    if (!KeyExists(registry, parent->path)) return ERROR_KEY_DELETED;
    std::string path = Spelled(registry, JoinedPath(parent->path, subKey));
    if (IsRoot(path)) return ERROR_ACCESS_DENIED;
    if (!KeyExists(registry, path)) return ERROR_FILE_NOT_FOUND;
    if (IsLocked(registry, path) || HasSubKeys(registry, path)) return ERROR_ACCESS_DENIED;
    Registry before = registry;
    std::erase_if(registry.keys, [&](const RegKey& k) { return SamePath(k.path, path); });
    KeepParent(registry, path);
    if (!SaveRegistry(registry)) {
        registry = std::move(before);
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

}  // namespace win
