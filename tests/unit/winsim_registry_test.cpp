// The simulated registry: registry.reg read and written as regedit does,
// Windows' error codes, locked keys and injected failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "machine.h"
#include "test_machine.h"
#include "winapi.h"

namespace fs = std::filesystem;
using namespace win;

namespace {

const char* const kBde = "Software\\Borland\\Database Engine";

class Registry : public ::testing::Test {
protected:
    // The tests watch the machine directory, where only the registry belongs.
    void SetUp() override { fs::remove(dir_ / "drive_c"); }

    std::string RegistryFile() const {
        std::ifstream in(dir_ / "registry.reg", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    HKEY Create(const std::string& path, REGSAM sam = KEY_QUERY_VALUE | KEY_SET_VALUE) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, sam, nullptr,
                                  &key, &disposition),
                  ERROR_SUCCESS)
            << path;
        return key;
    }
    LSTATUS Open(const std::string& path, REGSAM sam, HKEY* key) {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, sam, key);
    }
    LSTATUS Set(HKEY key, const char* name, DWORD type, const std::string& data) {
        return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                              static_cast<DWORD>(data.size()));
    }
    // The value's type and bytes, or the status when the query fails.
    std::pair<DWORD, std::string> Query(HKEY key, const char* name, LSTATUS* status = nullptr) {
        DWORD type = 0xDEAD;
        DWORD size = 0;
        LSTATUS result = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        std::string data(size, '\0');
        if (result == ERROR_SUCCESS)
            result = RegQueryValueExA(key, name, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.data()), &size);
        if (status != nullptr) *status = result;
        return {type, data.substr(0, size)};
    }

    TestMachine machine_;
    const fs::path& dir_ = machine_.root();
};

struct TypedValue {
    const char* name;
    DWORD type;
    std::string data;
    const char* fileLine;  // how registry.reg must carry it (first line)
};

TEST_F(Registry, ValuesSurviveTheFileWithTypeAndBytes) {
    const std::string longBinary(40, '\x5A');
    const TypedValue values[] = {
        {"Text", REG_SZ, std::string("C:\\Program Files\\\"BDE\"\0", 23),
         "\"Text\"=\"C:\\\\Program Files\\\\\\\"BDE\\\"\""},
        {"\xD0\xF3\xF1\xF1\xEA\xE8\xE9", REG_SZ, std::string("\xC4\xE0\0", 3),
         "\"\xD0\xF3\xF1\xF1\xEA\xE8\xE9\"=\"\xC4\xE0\""},
        {"NoNul", REG_SZ, "abc", "\"NoNul\"=hex(1):61,62,63"},
        {"TwoNuls", REG_SZ, std::string("a\0b\0", 4), "\"TwoNuls\"=hex(1):61,00,62,00"},
        {"Lines", REG_SZ, std::string("a\r\nb\0", 5), "\"Lines\"=hex(1):61,0d,0a,62,00"},
        {"EmptyText", REG_SZ, "", "\"EmptyText\"=hex(1):"},
        {"Dword", REG_DWORD, std::string("\x0a\0\0\x80", 4), "\"Dword\"=dword:8000000a"},
        {"ShortDword", REG_DWORD, std::string("\x01\x02", 2), "\"ShortDword\"=hex(4):01,02"},
        {"Binary", REG_BINARY, std::string("\x30\x00\xff", 3), "\"Binary\"=hex:30,00,ff"},
        {"LongBinary", REG_BINARY, longBinary, "\"LongBinary\"=hex:5a,5a,5a"},
        {"Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\0", 13), "\"Expand\"=hex(2):25,53"},
        {"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5), "\"Multi\"=hex(7):61,00,62,00,00"},
        {"Odd", 0x2A, "x", "\"Odd\"=hex(2a):78"},
        {"", REG_SZ, std::string("default\0", 8), "@=\"default\""},
    };
    HKEY key = Create(kBde);
    for (const TypedValue& value : values)
        ASSERT_EQ(Set(key, value.name, value.type, value.data), ERROR_SUCCESS) << value.name;

    std::string file = RegistryFile();
    EXPECT_EQ(file.rfind("REGEDIT4\r\n", 0), 0u);
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\Software\\Borland\\Database Engine]\r\n"),
              std::string::npos);
    for (size_t i = 0; i < file.size(); ++i)
        if (file[i] == '\n') {
            ASSERT_TRUE(i > 0 && file[i - 1] == '\r') << "bare LF at " << i;
        }
    for (const TypedValue& value : values)
        EXPECT_NE(file.find(std::string("\r\n") + value.fileLine), std::string::npos)
            << value.fileLine;
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 80u) << "long hex data is wrapped: " << line;

    winsim::ReloadMachine();
    HKEY reopened = nullptr;
    ASSERT_EQ(Open(kBde, KEY_QUERY_VALUE, &reopened), ERROR_SUCCESS);
    for (const TypedValue& value : values) {
        auto [type, data] = Query(reopened, value.name);
        EXPECT_EQ(type, value.type) << value.name;
        EXPECT_EQ(data, value.data) << value.name;
    }
}

TEST_F(Registry, ReadsTheRegeditFormat) {
    machine_.Write("registry.reg",
                   "REGEDIT4\r\n\r\n"
                   "; exported\r\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Borland\\Database Engine]\r\n"
                   "@=\"root\"\r\n"
                   "\"DLLPATH\"=\"C:\\\\Program Files\\\\Common Files\\\\Borland Shared\\\\BDE\"\r\n"
                   "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
                   "\"Count\"=dword:0000000A\r\n"
                   "\"Blob\"=hex:01,02,\\\r\n"
                   "  03,04\r\n"
                   "\"Path\"=hex(2):25,00\r\n"
                   "\r\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"
                   "\"Unix\"=\"lf only\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(Open("software\\BORLAND\\database engine", KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    const TypedValue expected[] = {
        {"", REG_SZ, std::string("root\0", 5), ""},
        {"dllpath", REG_SZ,
         std::string("C:\\Program Files\\Common Files\\Borland Shared\\BDE\0", 49), ""},
        {"Quoted", REG_SZ, std::string("say \"hi\"\0", 9), ""},
        {"Count", REG_DWORD, std::string("\x0a\0\0\0", 4), ""},
        {"Blob", REG_BINARY, "\x01\x02\x03\x04", ""},
        {"Path", REG_EXPAND_SZ, std::string("%\0", 2), ""},
    };
    for (const TypedValue& value : expected) {
        LSTATUS status = 0;
        auto [type, data] = Query(key, value.name, &status);
        EXPECT_EQ(status, ERROR_SUCCESS) << value.name;
        EXPECT_EQ(type, value.type) << value.name;
        EXPECT_EQ(data, value.data) << value.name;
    }
    EXPECT_EQ(winsim::RegistryText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", "Unix"), "lf only");
}

TEST_F(Registry, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
    HKEY key = Create("Software\\Borland\\\xC1\xE0\xE7\xE0");  // "База"
    ASSERT_EQ(Set(key, "LangDrv", REG_SZ, std::string("one\0", 4)), ERROR_SUCCESS);

    HKEY other = nullptr;
    ASSERT_EQ(Open("SOFTWARE\\borland\\\xE1\xC0\xC7\xE0", KEY_SET_VALUE | KEY_QUERY_VALUE, &other),
              ERROR_SUCCESS);
    ASSERT_EQ(Set(other, "LANGDRV", REG_SZ, std::string("two\0", 4)), ERROR_SUCCESS);
    EXPECT_EQ(Query(other, "langdrv").second, std::string("two\0", 4));

    HKEY sub = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\BORLAND\\\xE1\xE0\xE7\xE0\\Sub", 0,
                              nullptr, 0, KEY_QUERY_VALUE, nullptr, &sub, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\borland\\\xC1\xC0\xC7\xC0", 0, nullptr,
                              0, KEY_QUERY_VALUE, nullptr, &sub, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    std::string file = RegistryFile();
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\Software\\Borland\\\xC1\xE0\xE7\xE0]"), std::string::npos);
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\Software\\Borland\\\xC1\xE0\xE7\xE0\\Sub]"),
              std::string::npos);
    EXPECT_NE(file.find("\"LangDrv\"=\"two\""), std::string::npos);
    EXPECT_EQ(file.find("LANGDRV"), std::string::npos);
    EXPECT_EQ(file.find("one"), std::string::npos);
}

TEST_F(Registry, EveryChangeReplacesTheFileWhole) {
    HKEY key = Create(kBde);
    struct stat before {};
    ASSERT_EQ(stat((dir_ / "registry.reg").c_str(), &before), 0);
    ASSERT_EQ(Set(key, "A", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
    struct stat after {};
    ASSERT_EQ(stat((dir_ / "registry.reg").c_str(), &after), 0);
    // A rename puts a new file in place; writing into the old one would not.
    EXPECT_NE(before.st_ino, after.st_ino);
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(dir_))
        entries.push_back(entry.path().filename().string());
    EXPECT_EQ(entries, std::vector<std::string>{"registry.reg"});
}

TEST_F(Registry, SmallBufferGetsMoreDataAndTheSizeNeeded) {
    HKEY key = Create(kBde);
    const std::string text("0123456789\0", 11);
    ASSERT_EQ(Set(key, "V", REG_SZ, text), ERROR_SUCCESS);
    struct Case {
        DWORD bufferSize;
        LSTATUS status;
        DWORD sizeAfter;
        bool copied;
    };
    const Case cases[] = {
        {0, ERROR_MORE_DATA, 11, false},
        {10, ERROR_MORE_DATA, 11, false},
        {11, ERROR_SUCCESS, 11, true},
        {64, ERROR_SUCCESS, 11, true},
    };
    for (const Case& c : cases) {
        std::string buffer(64, '#');
        DWORD size = c.bufferSize;
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                   &size),
                  c.status)
            << c.bufferSize;
        EXPECT_EQ(size, c.sizeAfter) << c.bufferSize;
        EXPECT_EQ(type, REG_SZ) << c.bufferSize;
        EXPECT_EQ(buffer.substr(0, 11), c.copied ? text : std::string(11, '#')) << c.bufferSize;
        EXPECT_EQ(buffer.substr(11), std::string(53, '#')) << c.bufferSize;
    }
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 11u);
}

TEST_F(Registry, MissingKeysAndValuesAreNotFound) {
    HKEY key = Create(kBde);
    HKEY missing = nullptr;
    EXPECT_EQ(Open("Software\\Borland\\Nothing", KEY_QUERY_VALUE, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("Software\\Borland\\Database Engine\\Settings", KEY_QUERY_VALUE, &missing),
              ERROR_FILE_NOT_FOUND);
    LSTATUS status = 0;
    Query(key, "Nothing", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    // Parent keys exist through their sub-keys.
    EXPECT_EQ(Open("Software\\Borland", KEY_QUERY_VALUE, &missing), ERROR_SUCCESS);
}

TEST_F(Registry, LockedKeyRefusesWriteRightsButReads) {
    machine_.Write("registry.reg",
                   "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Borland\\Database Engine]\r\n"
                   "\"CONFIGFILE01\"=\"C:\\\\idapi.cfg\"\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Borland\\Database Engine\\Settings]\r\n");
    machine_.Write("locked_keys", "# locked by policy\n"
                                  "HKEY_LOCAL_MACHINE\\Software\\Borland\\Database Engine\n");
    const std::string original = RegistryFile();
    const REGSAM writeRights[] = {KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, WRITE_DAC,
                                  WRITE_OWNER,   DELETE_ACCESS,      0x20006 /* KEY_WRITE */,
                                  0xF003F /* KEY_ALL_ACCESS */};
    for (REGSAM sam : writeRights) {
        HKEY key = nullptr;
        EXPECT_EQ(Open("SOFTWARE\\BORLAND\\DATABASE ENGINE", sam | KEY_QUERY_VALUE, &key),
                  ERROR_ACCESS_DENIED)
            << std::hex << sam;
        DWORD disposition = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBde, 0, nullptr, 0, sam, nullptr, &key,
                                  &disposition),
                  ERROR_ACCESS_DENIED)
            << std::hex << sam;
    }
    HKEY key = nullptr;
    ASSERT_EQ(Open(kBde, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "CONFIGFILE01").second, std::string("C:\\idapi.cfg\0", 13));
    EXPECT_EQ(Set(key, "CONFIGFILE01", REG_SZ, "x"), ERROR_ACCESS_DENIED);

    // Nothing new goes beneath it, and it can't be deleted.
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine\\New", 0,
                              nullptr, 0, KEY_QUERY_VALUE, nullptr, &key, &disposition),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine\\Settings"),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kBde), ERROR_ACCESS_DENIED);
    // The lock is on that key alone.
    EXPECT_EQ(Open("Software\\Borland", KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(winsim::RegistryText("HKEY_LOCAL_MACHINE\\Software\\Borland\\Database Engine", "CONFIGFILE01"),
              "C:\\idapi.cfg");
}

TEST_F(Registry, HandlesAllowOnlyTheRightsAskedFor) {
    Create(kBde);
    HKEY readOnly = nullptr;
    HKEY writeOnly = nullptr;
    ASSERT_EQ(Open(kBde, KEY_QUERY_VALUE, &readOnly), ERROR_SUCCESS);
    ASSERT_EQ(Open(kBde, KEY_SET_VALUE, &writeOnly), ERROR_SUCCESS);
    EXPECT_EQ(Set(readOnly, "V", REG_SZ, "x"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set(writeOnly, "V", REG_SZ, "x"), ERROR_SUCCESS);
    LSTATUS status = 0;
    Query(writeOnly, "V", &status);
    EXPECT_EQ(status, ERROR_ACCESS_DENIED);
    Query(readOnly, "V", &status);
    EXPECT_EQ(status, ERROR_SUCCESS);

    HKEY sub = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(readOnly, "Sub", 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &sub,
                              &disposition),
              ERROR_ACCESS_DENIED);
    HKEY creator = nullptr;
    ASSERT_EQ(Open(kBde, KEY_CREATE_SUB_KEY, &creator), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(creator, "Sub", 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &sub,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(Open("Software\\Borland\\Database Engine\\sub", KEY_QUERY_VALUE, &sub), ERROR_SUCCESS);
}

TEST_F(Registry, DeletingKeys) {
    HKEY key = Create("Software\\Borland\\Database Engine\\Settings\\Drivers");
    ASSERT_EQ(Set(key, "V", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine\\Settings"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Borland\\Nothing"), ERROR_FILE_NOT_FOUND);

    HKEY settings = nullptr;
    ASSERT_EQ(Open("Software\\Borland\\Database Engine\\Settings", KEY_QUERY_VALUE, &settings),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(settings, "DRIVERS"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(settings, "Drivers"), ERROR_FILE_NOT_FOUND);

    // The parent stays, in memory and on disk; the values went with the key.
    winsim::ReloadMachine();
    HKEY reopened = nullptr;
    EXPECT_EQ(Open("Software\\Borland\\Database Engine\\Settings", KEY_QUERY_VALUE, &reopened),
              ERROR_SUCCESS);
    EXPECT_EQ(RegistryFile().find("\"V\""), std::string::npos);
    key = Create("Software\\Borland\\Database Engine\\Settings\\Drivers");
    LSTATUS status = 0;
    Query(key, "V", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, InjectedFailuresComeBackAsStatus) {
    Create(kBde);
    machine_.Write("failures", "# planned\n\nRegOpenKeyExA#2 5\nRegSetValueExA 1018\n");
    SetLastError(1234);
    const LSTATUS expected[] = {ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_SUCCESS};
    for (LSTATUS status : expected) {
        HKEY key = nullptr;
        EXPECT_EQ(Open(kBde, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), status);
        if (key != nullptr) {
            EXPECT_EQ(Set(key, "V", REG_SZ, "x"), 1018);
        }
    }
    EXPECT_EQ(GetLastError(), 1234u) << "registry calls leave the last error alone";
}

TEST_F(Registry, SettingsTheMachineDerivesFromTheRegistry) {
    EXPECT_EQ(winsim::SystemLanguage(), 0x0419u);
    EXPECT_EQ(winsim::AnsiCodePage(), 1251u);
    EXPECT_EQ(winsim::WindowsFolder(), "C:\\WINDOWS");
    machine_.Write(
        "registry.reg",
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language]\r\n"
        "\"Default\"=\"0409\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
        "\"SystemRoot\"=\"D:\\\\WINNT\"\r\n");
    EXPECT_EQ(winsim::SystemLanguage(), 0x0409u);
    EXPECT_FALSE(winsim::RussianSystem());
    EXPECT_EQ(winsim::AnsiCodePage(), 1252u);
    EXPECT_EQ(winsim::WindowsFolder(), "D:\\WINNT");
}

}  // namespace
