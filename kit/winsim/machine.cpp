// The simulated machine's directory, its failure plan, held files, paths and
// the few settings the other services derive from the registry.
#include "machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <system_error>

#include "codepage.h"

namespace fs = std::filesystem;

namespace winsim {
namespace {

struct FailurePlan {
    std::map<std::string, win::DWORD> everyCall;
    std::map<std::pair<std::string, unsigned long>, win::DWORD> nthCall;
    std::map<std::string, unsigned long> callCounts;
};

struct MachineState {
    std::optional<fs::path> dir;
    std::optional<FailurePlan> failures;
    std::optional<std::vector<std::string>> heldFiles;  // Windows paths, Windows-1251
    unsigned generation = 0;
};

MachineState& State() {
    static MachineState state;
    return state;
}

thread_local win::DWORD lastError = 0;

std::string TrimmedLine(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : line.substr(start);
}

// The machine file's meaningful lines: blank ones and # comments dropped.
std::vector<std::string> MachineFileLines(const char* name) {
    std::vector<std::string> lines;
    std::ifstream in(MachineDir() / name, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        line = TrimmedLine(line);
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    return lines;
}

[[noreturn]] void BadMachineFile(const char* name, const std::string& line) {
    std::fprintf(stderr, "winsim: %s: can't read the line \"%s\"\n", name, line.c_str());
    std::exit(1);
}

unsigned long ParseNumber(const char* file, const std::string& text, const std::string& line) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, hex ? 16 : 10);
    } catch (const std::exception&) {
        BadMachineFile(file, line);
    }
    if (used != text.size()) BadMachineFile(file, line);
    return value;
}

FailurePlan LoadFailurePlan() {
    FailurePlan plan;
    for (const std::string& line : MachineFileLines("failures")) {
        size_t space = line.find_first_of(" \t");
        if (space == std::string::npos) BadMachineFile("failures", line);
        std::string service = line.substr(0, space);
        auto code = static_cast<win::DWORD>(
            ParseNumber("failures", TrimmedLine(line.substr(space)), line));
        size_t hash = service.find('#');
        if (hash == std::string::npos) {
            plan.everyCall[service] = code;
        } else {
            unsigned long n = ParseNumber("failures", service.substr(hash + 1), line);
            plan.nthCall[{service.substr(0, hash), n}] = code;
        }
    }
    return plan;
}

char16_t FoldedChar(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c + 0x20;
    if (c < 0x80) return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;  // Latin-1
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20;             // А..Я
    if (c >= 0x0400 && c <= 0x040F) return c + 0x50;             // Ѐ..Џ
    if (c >= 0x0460 && c <= 0x04BF && c % 2 == 0) return c + 1;  // paired letters, Ґ
    if (c == 0x0152 || c == 0x0160 || c == 0x017D) return c + 1;  // Œ Š Ž
    if (c == 0x0178) return 0xFF;                                  // Ÿ
    return c;
}

// The entry of folder whose name folds to the same as name, if any; the exact
// spelling wins when the host holds several.
std::optional<std::string> MatchingEntry(const fs::path& folder, const std::string& name) {
    std::error_code error;
    if (fs::exists(folder / name, error)) return name;
    std::u16string wanted = FoldedName(Utf8ToUtf16(name));
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string entry = it->path().filename().string();
        if (FoldedName(Utf8ToUtf16(entry)) == wanted) return entry;
    }
    return std::nullopt;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

fs::path DriveRoot(char letter) {
    letter = static_cast<char>(letter | 0x20);
    if (letter == 'z') return "/";
    return MachineDir() / (std::string("drive_") + letter);
}

// The drive letter of the current directory, for paths like "\Windows".
char CurrentDrive() {
    std::string current = WindowsPath(fs::current_path());
    return current.empty() ? 'Z' : current[0];
}

}  // namespace

const fs::path& MachineDir() {
    MachineState& state = State();
    if (!state.dir) {
        const char* dir = std::getenv("WINSIM_MACHINE");
        if (dir == nullptr || *dir == '\0') {
            std::fputs("winsim: WINSIM_MACHINE is not set\n", stderr);
            std::exit(1);
        }
        std::error_code error;
        fs::path absolute = fs::absolute(dir, error);
        state.dir = error ? fs::path(dir) : absolute.lexically_normal();
    }
    return *state.dir;
}

void ReloadMachine() {
    MachineState& state = State();
    state.dir.reset();
    state.failures.reset();
    state.heldFiles.reset();
    ++state.generation;
}

unsigned MachineGeneration() {
    return State().generation;
}

bool InjectedFailure(const char* service, win::DWORD& code) {
    MachineState& state = State();
    if (!state.failures) state.failures = LoadFailurePlan();
    FailurePlan& plan = *state.failures;
    unsigned long call = ++plan.callCounts[service];
    if (auto nth = plan.nthCall.find({service, call}); nth != plan.nthCall.end()) {
        code = nth->second;
        return true;
    }
    if (auto every = plan.everyCall.find(service); every != plan.everyCall.end()) {
        code = every->second;
        return true;
    }
    return false;
}

void SetLastErrorCode(win::DWORD code) {
    lastError = code;
}

win::DWORD LastErrorCode() {
    return lastError;
}

std::u16string FoldedName(const std::u16string& name) {
    std::u16string folded = name;
    for (char16_t& c : folded) c = FoldedChar(c);
    return folded;
}

bool SameName1251(const std::string& a, const std::string& b) {
    return a.size() == b.size() && FoldedName(Cp1251ToUtf16(a)) == FoldedName(Cp1251ToUtf16(b));
}

fs::path HostPath(const std::string& windowsPath) {
    std::string path = Cp1251ToUtf8(windowsPath);
    fs::path result;
    size_t pos = 0;
    bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                    ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z');
    if (hasDrive) {
        result = DriveRoot(path[0]);
        pos = 2;
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return {};  // network paths aren't part of the machine
    } else if (!path.empty() && IsSeparator(path[0])) {
        result = DriveRoot(CurrentDrive());
    } else {
        result = fs::current_path();
    }
    std::error_code error;
    if (!fs::is_directory(result, error)) return {};
    fs::path root = result;
    bool resolving = true;
    while (pos <= path.size()) {
        size_t end = pos;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::string name = path.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (result != root) result = result.parent_path();
            continue;
        }
        if (resolving) {
            std::optional<std::string> entry = MatchingEntry(result, name);
            if (entry) name = *entry;
            else resolving = false;
        }
        result /= name;
    }
    return result;
}

std::string WindowsPath(const fs::path& hostPath) {
    std::error_code error;
    fs::path path = fs::weakly_canonical(fs::absolute(hostPath, error), error);
    if (error) path = fs::absolute(hostPath).lexically_normal();
    fs::path machine = fs::weakly_canonical(MachineDir(), error);
    if (error) machine = MachineDir();
    std::string drive = "Z:";
    fs::path rest = path.relative_path();
    fs::path relative = path.lexically_relative(machine);
    auto first = relative.begin();
    if (!relative.empty() && first != relative.end()) {
        std::string top = first->string();
        if (top.size() == 7 && top.compare(0, 6, "drive_") == 0 && top[6] >= 'a' &&
            top[6] < 'z') {
            drive = std::string(1, static_cast<char>(top[6] - 0x20)) + ":";
            rest.clear();
            for (auto it = std::next(first); it != relative.end(); ++it) rest /= *it;
        }
    }
    std::string text = drive + "\\";
    for (const fs::path& part : rest) {
        if (part.empty() || part == ".") continue;
        if (text.back() != '\\') text += '\\';
        text += part.string();
    }
    return Utf8ToCp1251(text);
}

bool HeldOpen(const fs::path& hostPath) {
    MachineState& state = State();
    if (!state.heldFiles) {
        state.heldFiles.emplace();
        for (const std::string& line : MachineFileLines("held_files"))
            state.heldFiles->push_back(Utf8ToCp1251(line));
    }
    if (state.heldFiles->empty()) return false;
    std::error_code error;
    fs::path absolute = fs::absolute(hostPath, error).lexically_normal();
    std::u16string wanted = FoldedName(Utf8ToUtf16(absolute.string()));
    for (const std::string& held : *state.heldFiles) {
        fs::path heldPath = HostPath(held).lexically_normal();
        if (!heldPath.empty() && FoldedName(Utf8ToUtf16(heldPath.string())) == wanted)
            return true;
    }
    return false;
}

win::LCID SystemLanguage() {
    std::optional<std::string> text = RegistryText(
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", "Default");
    if (text && !text->empty()) {
        char* end = nullptr;
        unsigned long value = std::strtoul(text->c_str(), &end, 16);
        if (end != nullptr && *end == '\0') return static_cast<win::LCID>(value);
    }
    return 0x0419;
}

bool RussianSystem() {
    return (SystemLanguage() & 0x3FF) == 0x19;
}

unsigned AnsiCodePage() {
    return RussianSystem() ? 1251 : 1252;
}

std::string WindowsFolder() {
    std::optional<std::string> text = RegistryText(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot");
    if (text && !text->empty()) return *text;
    return "C:\\WINDOWS";
}

}  // namespace winsim
