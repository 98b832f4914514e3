// The BDE conventions: how the kit derives folders, names, captions and the
// uninstaller's command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "APIprocs.h"
#include "bde.h"
#include "test_machine.h"

namespace {

// Puts raw DLLPATH data into the shared buffer as a registry read would.
std::string FolderOf(const std::string& data) {
    std::memset(TextBuffer, 'x', sizeof TextBuffer);
    std::memcpy(TextBuffer, data.data(), data.size());
    TextSize = static_cast<win::DWORD>(data.size());
    return bde::FolderFromBuffer();
}

TEST(BdeFolder, IsTheFirstEntryOfDllPathWithABackslash) {
    const struct {
        std::string data;
        std::string folder;
    } cases[] = {
        {std::string("C:\\BDE\0", 7), "C:\\BDE\\"},
        {std::string("C:\\BDE;D:\\OTHER\0", 16), "C:\\BDE\\"},
        {std::string("C:\\BDE\\\0", 8), "C:\\BDE\\\\"},
        {std::string("\0", 1), "\\"},
        {std::string(";C:\\BDE\0", 8), "\\"},
        {std::string(" C:\\Program Files\\BDE \0", 23), " C:\\Program Files\\BDE \\"},
        // Data without a terminating zero ends where the read ended.
        {std::string("C:\\BDE"), "C:\\BDE\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(FolderOf(c.data), c.folder) << c.data;
}

TEST(BdeNames, AreBuiltByPlainConcatenation) {
    EXPECT_EQ(bde::ResourceDll("0009"), "idr20009.dll");
    EXPECT_EQ(bde::BackupDll("0009"), "idr20009_.dll");
    EXPECT_EQ(bde::ResourceDll("000a"), "idr2000a.dll");
    EXPECT_EQ(bde::BackupDll("9"), "idr29_.dll");
    EXPECT_EQ(bde::RussianDll(), "idr20019.dll");
    EXPECT_EQ(bde::PackageDll("00195202"), "00195202.dll");
    EXPECT_EQ(bde::UpperAscii("idr2000a.dll"), "IDR2000A.DLL");
    // Only a to z change: Cyrillic letters in Windows-1251 stay as they are.
    EXPECT_EQ(bde::UpperAscii("\xE0\xE1z"), "\xE0\xE1Z");
}

TEST(VersionDigits, DropDotsAndStopAtTwentyCharacters) {
    const struct {
        std::string version;
        std::string digits;
    } cases[] = {
        {"5.2.0.2", "00195202"},
        {"4.51", "0019451"},
        {"", "0019"},
        {"5, 2, 0, 2", "00195, 2, 0, 2"},
        {"123456789012345678901234567890", "00191234567890123456"},
        {"1.2.3.4.5.6.7.8.9.0.1.2.3.4.5.6.7.8.9", "00191234567890123456"},
    };
    for (const auto& c : cases) EXPECT_EQ(bde::VersionDigits(c.version), c.digits) << c.version;
}

TEST(UninstallString, QuotesTheUninstallerAndCarriesTheCode) {
    EXPECT_EQ(bde::UninstallString("C:\\WINDOWS", "0009"), "\"C:\\WINDOWS\\unvelkor.exe\" 0009");
    // A drive root comes with its backslash.
    EXPECT_EQ(bde::UninstallString("C:\\", "000c"), "\"C:\\\\unvelkor.exe\" 000c");
}

TEST(Captions, SummaryCaptionEndsWithTheKitVersion) {
    AppTitle = "Русификация BDE";
    EXPECT_EQ(bde::SummaryCaption(), "Русификация BDE (версия 1.5)");
    AppTitle = "Удаление русификации BDE";
    EXPECT_EQ(bde::SummaryCaption(), "Удаление русификации BDE (версия 1.5)");
    // The bytes are Windows-1251: "У" is 0xD3, "д" is 0xE4.
    EXPECT_EQ(bde::SummaryCaption().substr(0, 2), "\xD3\xE4");
}

struct NameCase {
    const char* code;
    const char* name;
};

int WrongLanguageNames() {
    const NameCase cases[] = {
        {"0019", "Русский"},
        {"019", "Русский"},
        {"0009", "Английский (США)"},
        {"9", "Английский (США)"},
        {"000c", "Французский (Франция)"},
        {"000C", "Французский (Франция)"},
        {"00ff", "<unknown>"},
    };
    int wrong = 0;
    for (const NameCase& c : cases) {
        if (bde::LanguageName(c.code) == c.name) continue;
        std::fprintf(stderr, "wrong name for %s\n", c.code);
        ++wrong;
    }
    return wrong;
}

// The runtime lists the locales once per process, so each of these tests asks
// in a child process of its own.
TEST(LanguageName, IsTheSystemNameOfTheDefaultSubLanguage) {
    TestMachine machine;
    EXPECT_EXIT(std::_Exit(WrongLanguageNames()), testing::ExitedWithCode(0), "");
}

TEST(LanguageName, FollowsTheSystemLanguage) {
    TestMachine machine;
    machine.Write("registry.reg",
                  "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language]\r\n"
                  "\"Default\"=\"0409\"\r\n");
    EXPECT_EXIT(std::_Exit(bde::LanguageName("0019") == "Russian" &&
                           bde::LanguageName("0009") == "English (United States)"
                           ? 0 : 1),
                testing::ExitedWithCode(0), "");
}

TEST(LanguageNumber, ReadsTheCodeAsHexadecimal) {
    EXPECT_EQ(bde::LanguageNumber("0009"), 9);
    EXPECT_EQ(bde::LanguageNumber("0019"), 0x19);
    EXPECT_EQ(bde::LanguageNumber("000a"), 10);
    EXPECT_EQ(bde::LanguageNumber("FFFF"), 0xFFFF);
}

}  // namespace
