// The process services: last error, the program's own path and handle, the
// command line and the end of the process.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "codepage.h"
#include "machine.h"

extern "C" char __executable_start;  // the GNU linker's mark of the program's first byte

namespace fs = std::filesystem;
using win::DWORD;

namespace winsim {
namespace {

constexpr DWORD kModuleNotFound = 126;

std::string ProgramWindowsPath() {
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    return WindowsPath(program);
}

std::vector<std::string> ProcessArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        arguments.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

std::string QuotedArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
        return argument;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only before a quote.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

bool IsOwnModuleName(const std::string& name) {
    std::string program = ProgramWindowsPath();
    std::string base = program.substr(program.find_last_of('\\') + 1);
    std::string given = name.substr(name.find_last_of("\\/") + 1);
    if (SameName1251(given, base)) return true;
    return base.size() > 4 && SameName1251(given + ".exe", base);
}

}  // namespace

std::string CommandLineFromArguments(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) line += ' ';
        line += QuotedArgument(argument);
    }
    return line;
}

}  // namespace winsim

namespace win {

using namespace winsim;

DWORD GetLastError() {
    return LastErrorCode();
}

void SetLastError(DWORD code) {
    SetLastErrorCode(code);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    DWORD code = 0;
    if (InjectedFailure("GetModuleFileNameA", code)) {
        SetLastErrorCode(code);
        return 0;
    }
    if (module != nullptr && module != static_cast<HMODULE>(&__executable_start)) {
        SetLastErrorCode(kModuleNotFound);
        return 0;
    }
    std::string path = ProgramWindowsPath();
    auto length = static_cast<DWORD>(path.size());
    if (size == 0 || fileName == nullptr) {
        SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (size > length) {
        std::memcpy(fileName, path.c_str(), path.size() + 1);
        return length;
    }
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    DWORD code = 0;
    if (InjectedFailure("GetModuleHandleA", code)) {
        SetLastErrorCode(code);
        return nullptr;
    }
    if (moduleName != nullptr && !IsOwnModuleName(moduleName)) {
        SetLastErrorCode(kModuleNotFound);
        return nullptr;
    }
    return &__executable_start;
}

LPSTR GetCommandLineA() {
    // Built once per machine, so every call hands out the same text.
    static std::string commandLine;
    static std::optional<unsigned> builtFor;
    if (builtFor != MachineGeneration()) {
        builtFor = MachineGeneration();
        if (const char* given = std::getenv("WINSIM_COMMAND_LINE")) {
            commandLine = given;
        } else {
            std::vector<std::string> arguments = ProcessArguments();
            if (arguments.empty()) arguments.emplace_back();
            arguments[0] = ProgramWindowsPath();
            for (size_t i = 1; i < arguments.size(); ++i) arguments[i] = Utf8ToCp1251(arguments[i]);
            commandLine = CommandLineFromArguments(arguments);
        }
    }
    return commandLine.data();
}

[[noreturn]] void ExitProcess(UINT exitCode) {
    std::fflush(nullptr);
    ::_exit(static_cast<int>(exitCode));
}

}  // namespace win
