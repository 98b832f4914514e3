// The simulated process services: last error, the program's path and handle,
// the command line as Windows builds it, and the end of the process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "machine.h"
#include "test_machine.h"
#include "winapi.h"

namespace fs = std::filesystem;
using namespace win;

namespace {

// Started again as a probe, the test program prints what the services say
// about it and ends before any test runs.
const bool kProbe = [] {
    if (std::getenv("WINSIM_PROCESS_PROBE") == nullptr) return false;
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::printf("%s\n%s\n", GetCommandLineA(), path);
    ExitProcess(0);
}();

struct ChildResult {
    std::string output;
    int exitCode = -1;
};

// Runs program with the arguments (argument 0 included), collecting stdout.
ChildResult RunProgram(const fs::path& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        close(pipeEnds[0]);
        for (const std::string& variable : environment) putenv(strdup(variable.c_str()));
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(strdup(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    ChildResult result;
    char buffer[4096];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class Process : public ::testing::Test {
protected:
    // A copy of this test program placed on the machine's drive C.
    fs::path ProgramOnDriveC(const std::string& relative) {
        fs::path copy = machine_.OnDriveC(relative);
        fs::copy_file("/proc/self/exe", copy);
        fs::permissions(copy, fs::perms::owner_all);
        return copy;
    }

    TestMachine machine_;
    const fs::path& dir_ = machine_.root();
};

TEST_F(Process, ArgumentsAreQuotedAsWindowsReadsThemBack) {
    struct Case {
        std::vector<std::string> arguments;
        std::string commandLine;
    };
    const Case cases[] = {
        {{"velkor.exe"}, "velkor.exe"},
        {{"C:\\Program Files\\Kit\\velkor.exe", "/s"}, "\"C:\\Program Files\\Kit\\velkor.exe\" /s"},
        {{"p", ""}, "p \"\""},
        {{"p", "two words"}, "p \"two words\""},
        {{"p", "tab\there"}, "p \"tab\there\""},
        {{"p", "say \"hi\""}, "p \"say \\\"hi\\\"\""},
        {{"p", "a\"b"}, "p \"a\\\"b\""},
        {{"p", "C:\\dir\\"}, "p C:\\dir\\"},
        {{"p", "C:\\my dir\\"}, "p \"C:\\my dir\\\\\""},
        {{"p", "x\\\\\"y"}, "p \"x\\\\\\\\\\\"y\""},
        {{"p", "a\\\\b c"}, "p \"a\\\\b c\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(winsim::CommandLineFromArguments(c.arguments), c.commandLine) << c.commandLine;
}

TEST_F(Process, ProgramOnTheMachineSeesItsWindowsPathAndCommandLine) {
    fs::path program = ProgramOnDriveC("Program Files/Kit/Probe.exe");
    ChildResult result = RunProgram(
        program, {"anything", "/u", "two words", "", "\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C"},
        {"WINSIM_PROCESS_PROBE=1", "WINSIM_MACHINE=" + dir_.string()});
    EXPECT_EQ(result.exitCode, 0);
    // The Cyrillic argument ("Путь") arrives in Windows-1251.
    EXPECT_EQ(result.output, "\"C:\\Program Files\\Kit\\Probe.exe\" /u \"two words\" \"\" \xCF\xF3\xF2\xFC\n"
                             "C:\\Program Files\\Kit\\Probe.exe\n");
}

TEST_F(Process, ProgramElsewhereIsOnDriveZ) {
    fs::path outside = dir_ / "host" / "probe";
    fs::create_directories(outside.parent_path());
    fs::copy_file("/proc/self/exe", outside);
    fs::permissions(outside, fs::perms::owner_all);
    fs::create_directories(dir_ / "machine");
    const std::string windows = "Z:" + std::string(outside.string());
    std::string expected = windows;
    for (char& c : expected)
        if (c == '/') c = '\\';
    ChildResult result = RunProgram(outside, {"probe"},
                                    {"WINSIM_PROCESS_PROBE=1", "WINSIM_MACHINE=" + (dir_ / "machine").string(),
                                     "WINSIM_COMMAND_LINE=velkor.exe  /x \"y\""});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "velkor.exe  /x \"y\"\n" + expected + "\n");
}

TEST_F(Process, CommandLineFromTheEnvironmentIsVerbatimAndStable) {
    setenv("WINSIM_COMMAND_LINE", "\"C:\\velkor.exe\"   /s  ", 1);
    winsim::ReloadMachine();
    LPSTR first = GetCommandLineA();
    EXPECT_STREQ(first, "\"C:\\velkor.exe\"   /s  ");
    EXPECT_EQ(GetCommandLineA(), first);
}

TEST_F(Process, ModuleFileNameIsTruncatedLikeWindows) {
    char full[1024] = {};
    DWORD length = GetModuleFileNameA(nullptr, full, sizeof full);
    ASSERT_GT(length, 5u);
    ASSERT_EQ(std::string(full, 2), "Z:");
    struct Case {
        DWORD size;
        DWORD result;
        DWORD kept;  // characters copied before the NUL
        DWORD error;
    };
    const Case cases[] = {
        {length + 1, length, length, 0xBEEF},
        {length, length, length - 1, ERROR_INSUFFICIENT_BUFFER},
        {5, 5, 4, ERROR_INSUFFICIENT_BUFFER},
        {1, 1, 0, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(length + 8, '@');
        SetLastError(0xBEEF);
        EXPECT_EQ(GetModuleFileNameA(nullptr, buffer.data(), c.size), c.result) << c.size;
        EXPECT_EQ(GetLastError(), c.error) << c.size;
        EXPECT_EQ(std::string(buffer.data()), std::string(full, c.kept)) << c.size;
        EXPECT_EQ(buffer[c.size], '@') << "wrote past the buffer, size " << c.size;
    }
}

TEST_F(Process, ModuleHandles) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    char path[MAX_PATH] = {};
    EXPECT_GT(GetModuleFileNameA(self, path, MAX_PATH), 0u);
    std::string name = std::string(path).substr(std::string(path).rfind('\\') + 1);
    EXPECT_EQ(GetModuleHandleA(name.c_str()), self);
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("kernel32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), 126u);
    int local = 0;
    EXPECT_EQ(GetModuleFileNameA(&local, path, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), 126u);
}

TEST_F(Process, InjectedFailures) {
    machine_.Write("failures", "GetModuleFileNameA#2 8\nGetModuleHandleA 14\n");
    char path[MAX_PATH];
    const DWORD errors[] = {0, ERROR_NOT_ENOUGH_MEMORY, 0};
    for (DWORD error : errors) {
        SetLastError(0);
        DWORD result = GetModuleFileNameA(nullptr, path, MAX_PATH);
        EXPECT_EQ(result == 0, error != 0);
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_EQ(GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_OUTOFMEMORY);
}

TEST_F(Process, LastErrorBelongsToTheThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByThread = 0xFFFF;
    std::thread other([&] {
        seenByThread = GetLastError();
        SetLastError(ERROR_SHARING_VIOLATION);
    });
    other.join();
    EXPECT_EQ(seenByThread, 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Process, ExitProcessFlushesOutputAndSkipsExitHandlers) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        std::atexit([] { std::fputs("exit handler ran", stdout); });
        std::fputs("buffered, no newline", stdout);
        ExitProcess(7);
    }
    close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(output, "buffered, no newline");
}

}  // namespace
