// The shared unit's routines: the fatal error report in its three forms and
// the file version query against DLLs that our build makes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "APIprocs.h"
#include "codepage.h"
#include "test_machine.h"

namespace {

// What the system says for a code, as UTF-8.
std::string SystemText(win::DWORD code) {
    char buffer[256] = {};
    win::FormatMessageA(win::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer, sizeof buffer, nullptr);
    return winsim::Cp1251ToUtf8(buffer);
}

struct FatalCase {
    std::string message;  // Windows-1251
    bool withSystemText;
    win::DWORD lastError;
    std::string boxText;  // UTF-8; {sys} stands for the system's text of lastError
};

TEST(FatalError, ShowsOneBoxInEachFormThenExitsWithCode1) {
    const FatalCase cases[] = {
        {"Не могу определить текущий язык BDE. Параметр RESOURCE.", false, 2,
         U8(u8"Не могу определить текущий язык BDE. Параметр RESOURCE.")},
        {"Не могу скопировать файл bdeadmin.rus.", true, 2,
         U8(u8"Не могу скопировать файл bdeadmin.rus.\r\rОшибка:\r{sys}")},
        {"", false, 5, "{sys}"},
        {"", true, 5, "{sys}"},
        {"", false, 0, "{sys}"},
        // No system text for the code: the box names the code.
        {"", false, 0x2FFFFFF, U8(u8"Код ошибки 50331647.")},
    };
    for (const FatalCase& c : cases) {
        TestMachine machine;
        machine.Write("answers", "OK\n");
        AppTitle = "Русификация BDE";
        EXPECT_EXIT(
            {
                win::SetLastError(c.lastError);
                FatalError(c.message, c.withSystemText);
            },
            testing::ExitedWithCode(1), "");
        std::string expected = c.boxText;
        if (auto at = expected.find("{sys}"); at != std::string::npos)
            expected.replace(at, 5, SystemText(c.lastError));
        const auto boxes = machine.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, U8(u8"Русификация BDE"));
        EXPECT_EQ(boxes[0].style, 16);
        EXPECT_EQ(boxes[0].text, expected);
    }
}

TEST(FatalError, AMessageAloneDoesNotTouchTheBuffer) {
    TestMachine machine;
    machine.Write("answers", "OK\n");
    EXPECT_EXIT(
        {
            std::strcpy(TextBuffer, "C:\\BDE");
            FatalError("x", false);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(machine.Boxes().at(0).text, "x");
}

struct VersionCase {
    const char* fixture;
    std::int32_t language;
    bool strict;
    std::string result;   // the text returned, when the run goes on
    std::string boxText;  // UTF-8, when the run ends; {file} is the file's path, {sys:N} a system text
};

class VersionQuery : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionQuery, ReadsFileVersionOrEndsTheRun) {
    const VersionCase& c = GetParam();
    TestMachine machine;
    machine.Write("answers", "OK\n");
    const std::string file = std::string("C:\\BDE\\") + c.fixture + ".dll";
    const std::filesystem::path source = std::filesystem::path(FIXTURE_DIR) / (std::string(c.fixture) + ".dll");
    if (std::filesystem::exists(source))
        std::filesystem::copy_file(source, machine.OnDriveC(std::string("BDE/") + c.fixture + ".dll"));
    else
        machine.OnDriveC("BDE/");
    AppTitle = "Русификация BDE";
    if (c.boxText.empty()) {
        EXPECT_EQ(GetFileVersionStr(file, c.language, c.strict), c.result);
        EXPECT_TRUE(machine.Boxes().empty());
        return;
    }
    EXPECT_EXIT(GetFileVersionStr(file, c.language, c.strict), testing::ExitedWithCode(1), "");
    std::string expected = c.boxText;
    if (auto at = expected.find("{file}"); at != std::string::npos) expected.replace(at, 6, file);
    if (auto at = expected.find("{sys:"); at != std::string::npos) {
        const auto end = expected.find('}', at);
        expected.replace(at, end - at + 1, SystemText(std::stoul(expected.substr(at + 5, end - at - 5))));
    }
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, expected);
    EXPECT_EQ(boxes[0].style, 16);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, VersionQuery,
    testing::Values(
        VersionCase{"bde5", 9, true, "5.2.0.2", ""},
        VersionCase{"bde5_64", 9, true, "5.2.0.2", ""},
        VersionCase{"ver451", 9, true, "4.51", ""},
        VersionCase{"russian", 0x19, true, "5.1.0.4", ""},
        VersionCase{"emptyver", 9, true, "", ""},
        VersionCase{"longver", 9, true, "123456789012345678901234567890", ""},
        // Without a translation table only the block of the given language counts.
        VersionCase{"notrans", 9, true, "5.0.1.0", ""},
        VersionCase{"notrans_ru", 0x19, true, "5.0.2.0", ""},
        VersionCase{"notrans_ru", 9, true, "", U8(u8"Не могу получить информацию о версии файла {file}.")},
        // With a table only its first entry counts.
        VersionCase{"mismatch", 9, true, "", U8(u8"Нет информации о версии файла {file}.")},
        // Failures of the size query end a strict run with the system's text alone.
        VersionCase{"missing", 9, true, "", "{sys:2}"},
        VersionCase{"strings", 9, true, "", "{sys:1812}"},
        VersionCase{"nores", 9, true, "", "{sys:1812}"},
        // Without strict they give an empty text.
        VersionCase{"missing", 9, false, "", ""},
        VersionCase{"strings", 9, false, "", ""}),
    [](const testing::TestParamInfo<VersionCase>& info) {
        return std::string(info.param.fixture) + "_language" + std::to_string(info.param.language) +
               (info.param.strict ? "_strict" : "");
    });

}  // namespace
