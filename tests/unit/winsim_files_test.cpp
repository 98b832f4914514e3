// The simulated file services: Windows paths on the machine's drive folders,
// Windows' error codes, held and read-only files, injected failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "codepage.h"
#include "machine.h"
#include "test_machine.h"
#include "winapi.h"

namespace fs = std::filesystem;
using namespace win;

namespace {

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// "Русский.dll" in Windows-1251 and in UTF-8.
const std::string kRussian1251 = "\xD0\xF3\xF1\xF1\xEA\xE8\xE9.dll";
const std::string kRussianUtf8 = "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9.dll";
// The same name in capitals, Windows-1251: "РУССКИЙ.DLL".
const std::string kRussianUpper1251 = "\xD0\xD3\xD1\xD1\xCA\xC8\xC9.DLL";

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        bde_ = machine_.OnDriveC("Program Files/Borland/BDE");
        fs::create_directories(bde_);
        fs::create_directories(machine_.OnDriveC("WINDOWS"));
        Write(bde_ / "IDAPI32.DLL", "idapi");
        Write(bde_ / "BdeAdmin.exe", "admin-program");
        Write(bde_ / kRussianUtf8, "russian");
        Write(bde_ / "Locked.dll", "held");
        Write(bde_ / "ReadOnly.dll", "read only");
        chmod((bde_ / "ReadOnly.dll").c_str(), 0444);
        fs::create_directories(bde_ / "Folder.dll");
        machine_.Write("held_files", "# held by the BDE administrator\n"
                                     "C:\\PROGRAM FILES\\borland\\bde\\locked.DLL\n");
    }

    static void Write(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    static std::string Read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::set<std::string> BdeEntries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(bde_))
            names.insert(entry.path().filename().string());
        return names;
    }

    TestMachine machine_;
    const fs::path& dir_ = machine_.root();
    fs::path bde_;
};

const char* const kBde = "C:\\Program Files\\Borland\\BDE\\";

std::string InBde(const std::string& name) {
    return kBde + name;
}

struct CallCase {
    const char* what;
    std::function<BOOL()> call;
    DWORD error;  // 0: the call succeeds
};

void ExpectCalls(const std::vector<CallCase>& cases) {
    for (const CallCase& c : cases) {
        SetLastError(0xBEEF);
        BOOL result = c.call();
        if (c.error == 0) {
            EXPECT_TRUE(result) << c.what << ": error " << GetLastError();
        } else {
            EXPECT_FALSE(result) << c.what;
            EXPECT_EQ(GetLastError(), c.error) << c.what;
        }
    }
}

TEST_F(Files, CopyFileErrors) {
    const std::string source = InBde("IDAPI32.DLL");
    ExpectCalls({
        {"source missing", [&] { return CopyFileA(InBde("None.dll").c_str(), "C:\\x.dll", FALSE); },
         ERROR_FILE_NOT_FOUND},
        {"source folder missing",
         [&] { return CopyFileA("C:\\Nowhere\\a.dll", "C:\\x.dll", FALSE); }, ERROR_PATH_NOT_FOUND},
        {"target folder missing",
         [&] { return CopyFileA(source.c_str(), "C:\\Nowhere\\x.dll", FALSE); }, ERROR_PATH_NOT_FOUND},
        {"unknown drive", [&] { return CopyFileA(source.c_str(), "Q:\\x.dll", FALSE); },
         ERROR_PATH_NOT_FOUND},
        {"source held", [&] { return CopyFileA(InBde("Locked.dll").c_str(), "C:\\x.dll", FALSE); },
         ERROR_SHARING_VIOLATION},
        {"target held", [&] { return CopyFileA(source.c_str(), InBde("LOCKED.dll").c_str(), FALSE); },
         ERROR_SHARING_VIOLATION},
        {"target read-only",
         [&] { return CopyFileA(source.c_str(), InBde("readonly.dll").c_str(), FALSE); },
         ERROR_ACCESS_DENIED},
        {"target a folder", [&] { return CopyFileA(source.c_str(), InBde("Folder.dll").c_str(), FALSE); },
         ERROR_ACCESS_DENIED},
        {"target exists, fail asked",
         [&] { return CopyFileA(source.c_str(), InBde("bdeadmin.EXE").c_str(), TRUE); },
         ERROR_FILE_EXISTS},
    });
    EXPECT_EQ(Read(bde_ / "ReadOnly.dll"), "read only");
    EXPECT_EQ(Read(bde_ / "BdeAdmin.exe"), "admin-program");
    EXPECT_FALSE(fs::exists(dir_ / "drive_c" / "x.dll"));
}

TEST_F(Files, CopyFileCopiesContentAndPermissions) {
    // Overwrites a longer file whatever case the target is named in.
    ASSERT_TRUE(CopyFileA(InBde("idapi32.dll").c_str(), InBde("BDEADMIN.EXE").c_str(), FALSE));
    EXPECT_EQ(Read(bde_ / "BdeAdmin.exe"), "idapi");
    EXPECT_EQ(BdeEntries().count("BDEADMIN.EXE"), 0u);

    ASSERT_TRUE(CopyFileA(InBde(kRussianUpper1251).c_str(), "C:\\WINDOWS\\Copy.dll", TRUE));
    EXPECT_EQ(Read(dir_ / "drive_c" / "WINDOWS" / "Copy.dll"), "russian");

    ASSERT_TRUE(CopyFileA(InBde("ReadOnly.dll").c_str(), "c:/windows/ro.dll", FALSE));
    struct stat info {};
    ASSERT_EQ(stat((dir_ / "drive_c" / "WINDOWS" / "ro.dll").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
    EXPECT_EQ(Read(dir_ / "drive_c" / "WINDOWS" / "ro.dll"), "read only");
}

TEST_F(Files, MoveFileErrors) {
    ExpectCalls({
        {"source missing", [] { return MoveFileA(InBde("None.dll").c_str(), InBde("x.dll").c_str()); },
         ERROR_FILE_NOT_FOUND},
        {"source folder missing", [] { return MoveFileA("C:\\Nowhere\\a.dll", InBde("x.dll").c_str()); },
         ERROR_PATH_NOT_FOUND},
        {"target folder missing",
         [] { return MoveFileA(InBde("IDAPI32.DLL").c_str(), "C:\\Nowhere\\x.dll"); },
         ERROR_PATH_NOT_FOUND},
        {"source held", [] { return MoveFileA(InBde("locked.dll").c_str(), InBde("x.dll").c_str()); },
         ERROR_SHARING_VIOLATION},
        {"target exists",
         [] { return MoveFileA(InBde("IDAPI32.DLL").c_str(), InBde("BdeAdmin.exe").c_str()); },
         ERROR_ALREADY_EXISTS},
        {"target exists in another case",
         [] { return MoveFileA(InBde("IDAPI32.DLL").c_str(), InBde("BDEADMIN.EXE").c_str()); },
         ERROR_ALREADY_EXISTS},
        {"target is another file's Cyrillic name in capitals",
         [] { return MoveFileA(InBde("IDAPI32.DLL").c_str(), InBde(kRussianUpper1251).c_str()); },
         ERROR_ALREADY_EXISTS},
    });
    EXPECT_EQ(Read(bde_ / "BdeAdmin.exe"), "admin-program");
    EXPECT_EQ(Read(bde_ / "IDAPI32.DLL"), "idapi");
}

TEST_F(Files, MoveFileRenames) {
    // A read-only file can be renamed, as on Windows.
    ASSERT_TRUE(MoveFileA(InBde("readonly.DLL").c_str(), InBde("ReadOnly.old").c_str()));
    EXPECT_EQ(Read(bde_ / "ReadOnly.old"), "read only");
    // Only the case changes: the same file, renamed.
    ASSERT_TRUE(MoveFileA(InBde("IDAPI32.DLL").c_str(), InBde("idapi32.dll").c_str()));
    // Into another folder, with a Cyrillic name.
    ASSERT_TRUE(MoveFileA(InBde("BdeAdmin.exe").c_str(), ("C:\\WINDOWS\\" + kRussian1251).c_str()));
    EXPECT_EQ(Read(dir_ / "drive_c" / "WINDOWS" / kRussianUtf8), "admin-program");
    EXPECT_EQ(BdeEntries(), (std::set<std::string>{"idapi32.dll", kRussianUtf8, "Locked.dll",
                                                    "ReadOnly.old", "Folder.dll"}));
}

TEST_F(Files, DeleteFile) {
    ExpectCalls({
        {"missing", [] { return DeleteFileA(InBde("None.dll").c_str()); }, ERROR_FILE_NOT_FOUND},
        {"folder missing", [] { return DeleteFileA("C:\\Nowhere\\a.dll"); }, ERROR_PATH_NOT_FOUND},
        {"read-only, even for root", [] { return DeleteFileA(InBde("READONLY.dll").c_str()); },
         ERROR_ACCESS_DENIED},
        {"held", [] { return DeleteFileA(InBde("Locked.dll").c_str()); }, ERROR_SHARING_VIOLATION},
        {"a folder", [] { return DeleteFileA(InBde("Folder.dll").c_str()); }, ERROR_ACCESS_DENIED},
        {"Cyrillic name in capitals", [] { return DeleteFileA(InBde(kRussianUpper1251).c_str()); }, 0},
        {"forward slashes", [] { return DeleteFileA("c:/program files/borland/bde/idapi32.dll"); }, 0},
    });
    EXPECT_EQ(BdeEntries(), (std::set<std::string>{"BdeAdmin.exe", "Locked.dll", "ReadOnly.dll",
                                                    "Folder.dll"}));
}

std::set<std::string> FoundNames(const std::string& pattern, DWORD* error = nullptr) {
    WIN32_FIND_DATAA data{};
    HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
    if (error != nullptr) *error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (handle == INVALID_HANDLE_VALUE) return {};
    EXPECT_TRUE(FindClose(handle));
    return {data.cFileName};
}

TEST_F(Files, FindFirstFileMatchesWildcardsWithoutCase) {
    struct Case {
        std::string pattern;
        std::set<std::string> oneOf;  // the first match is any of these
        DWORD error;
    };
    const Case cases[] = {
        {InBde("idapi32.dll"), {"IDAPI32.DLL"}, 0},
        {InBde("I?API*.D?L"), {"IDAPI32.DLL"}, 0},
        {InBde("*.EXE"), {"BdeAdmin.exe"}, 0},
        {InBde(kRussianUpper1251), {"\xD0\xF3\xF1\xF1\xEA\xE8\xE9.dll"}, 0},
        {InBde("\xF0*"), {"\xD0\xF3\xF1\xF1\xEA\xE8\xE9.dll"}, 0},
        {InBde("*admin"), {}, ERROR_FILE_NOT_FOUND},
        {InBde("?dapi32.dl"), {}, ERROR_FILE_NOT_FOUND},
        {InBde("none.*"), {}, ERROR_FILE_NOT_FOUND},
        {"C:\\Nowhere\\*.dll", {}, ERROR_PATH_NOT_FOUND},
        {"C:\\Program Files\\Borland\\bde", {"BDE"}, 0},
    };
    for (const Case& c : cases) {
        DWORD error = 0;
        std::set<std::string> found = FoundNames(c.pattern, &error);
        EXPECT_EQ(error, c.error) << c.pattern;
        if (c.error == 0) {
            ASSERT_EQ(found.size(), 1u) << c.pattern;
            EXPECT_EQ(c.oneOf.count(*found.begin()), 1u) << c.pattern << " found " << *found.begin();
        }
    }
}

TEST_F(Files, FindFirstFileDescribesTheEntry) {
    struct Case {
        const char* name;
        DWORD attributes;
        DWORD size;
    };
    const Case cases[] = {
        {"IDAPI32.DLL", FILE_ATTRIBUTE_ARCHIVE, 5},
        {"ReadOnly.dll", FILE_ATTRIBUTE_READONLY, 9},
        {"Folder.dll", FILE_ATTRIBUTE_DIRECTORY, 0},
    };
    for (const Case& c : cases) {
        WIN32_FIND_DATAA data{};
        HANDLE handle = FindFirstFileA(InBde(c.name).c_str(), &data);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(data.dwFileAttributes, c.attributes) << c.name;
        EXPECT_EQ(data.nFileSizeLow, c.size) << c.name;
        EXPECT_EQ(data.nFileSizeHigh, 0u) << c.name;
        EXPECT_STREQ(data.cFileName, c.name);
        EXPECT_GT(data.ftLastWriteTime.dwHighDateTime, 0x01000000u) << "time counts from 1601";
        EXPECT_TRUE(FindClose(handle));
        SetLastError(0);
        EXPECT_FALSE(FindClose(handle)) << "closed twice";
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST_F(Files, GetWindowsDirectory) {
    struct Case {
        UINT size;
        UINT result;
        std::string buffer;
    };
    // "C:\WINDOWS" is 10 characters.
    const Case cases[] = {
        {64, 10, "C:\\WINDOWS"},
        {11, 10, "C:\\WINDOWS"},
        {10, 11, "@@@@@@@@@@@@"},
        {0, 11, "@@@@@@@@@@@@"},
    };
    for (const Case& c : cases) {
        char buffer[64];
        std::memset(buffer, '@', sizeof buffer);
        buffer[12] = '\0';
        EXPECT_EQ(GetWindowsDirectoryA(buffer, c.size), c.result) << c.size;
        EXPECT_EQ(std::string(buffer), c.buffer) << c.size;
    }
    machine_.Write(
        "registry.reg",
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
        "\"SystemRoot\"=\"C:\\\\WINNT\"\r\n");
    char buffer[MAX_PATH] = {};
    EXPECT_EQ(GetWindowsDirectoryA(buffer, MAX_PATH), 8u);
    EXPECT_STREQ(buffer, "C:\\WINNT");
}

TEST_F(Files, InjectedFailuresSetTheLastError) {
    machine_.Write("failures", "CopyFileA#2 5\nDeleteFileA 32\nGetWindowsDirectoryA#1 8\n"
                               "FindFirstFileA 0x15\n");
    const std::string source = InBde("IDAPI32.DLL");
    const std::string target = "C:\\WINDOWS\\copy.dll";
    ExpectCalls({
        {"first copy", [&] { return CopyFileA(source.c_str(), target.c_str(), FALSE); }, 0},
        {"second copy", [&] { return CopyFileA(source.c_str(), target.c_str(), FALSE); },
         ERROR_ACCESS_DENIED},
        {"third copy", [&] { return CopyFileA(source.c_str(), target.c_str(), FALSE); }, 0},
        {"every delete", [&] { return DeleteFileA(target.c_str()); }, ERROR_SHARING_VIOLATION},
        {"every delete, again", [&] { return DeleteFileA(target.c_str()); }, ERROR_SHARING_VIOLATION},
    });
    EXPECT_TRUE(fs::exists(dir_ / "drive_c" / "WINDOWS" / "copy.dll"));

    char buffer[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, MAX_PATH), 10u);

    WIN32_FIND_DATAA data{};
    EXPECT_EQ(FindFirstFileA(source.c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0x15u);
}

TEST_F(Files, WindowsAndHostPaths) {
    struct Case {
        std::string windows;
        fs::path host;  // relative to the machine, or absolute
    };
    const Case cases[] = {
        {"C:\\program files\\BORLAND\\bde\\idapi32.dll",
         "drive_c/Program Files/Borland/BDE/IDAPI32.DLL"},
        {"c:/Program Files/Borland/BDE/" + kRussianUpper1251,
         "drive_c/Program Files/Borland/BDE/" + kRussianUtf8},
        {"C:\\WINDOWS\\..\\Program Files\\.\\borland\\New Folder\\X.dll",
         "drive_c/Program Files/Borland/New Folder/X.dll"},
        {"C:\\", "drive_c"},
        {"Z:\\tmp", "/tmp"},
        {"Q:\\anything", ""},
    };
    for (const Case& c : cases) {
        fs::path expected = c.host.empty() || c.host.is_absolute() ? c.host : dir_ / c.host;
        EXPECT_EQ(winsim::HostPath(c.windows).lexically_normal(), expected.lexically_normal())
            << c.windows;
    }
    const std::pair<fs::path, std::string> back[] = {
        {bde_ / kRussianUtf8, "C:\\Program Files\\Borland\\BDE\\" + kRussian1251},
        {dir_ / "drive_c", "C:\\"},
        {dir_ / "drive_d" / "Data", "D:\\Data"},
        {"/usr/bin/env", "Z:\\usr\\bin\\env"},
    };
    for (const auto& [host, windows] : back) EXPECT_EQ(winsim::WindowsPath(host), windows) << host;
}

}  // namespace
