// The runtime: the "$" hexadecimal conversion, the report of an unhandled
// error and the orderly end of the process.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <regex>

#include "runtime.h"
#include "test_machine.h"

namespace {

TEST(StrToInt, ReadsDollarAndHexadecimalDigits) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"$0", 0}, {"$0009", 9}, {"$0019", 0x19}, {"$9", 9}, {"$00ff", 255},
        {"$00FF", 255}, {"$aBc", 0xABC}, {"$7FFFFFFF", 0x7FFFFFFF}, {"$FFFFFFFF", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
}

// Anything else is the runtime's unhandled conversion error: one
// "Application Error" box and exit code 1.
TEST(StrToInt, RejectsEverythingElseWithTheRuntimeReport) {
    const char* rejected[] = {"$", "", "0009", "$00G9", "$ 9", "$9 ", "-$1", "$+1", "$100000000"};
    for (const char* text : rejected) {
        TestMachine machine;
        machine.Write("answers", "OK\n");
        EXPECT_EXIT(StrToInt(text), testing::ExitedWithCode(1), "") << text;
        const auto boxes = machine.Boxes();
        ASSERT_EQ(boxes.size(), 1u) << text;
        EXPECT_EQ(boxes[0].caption, "Application Error");
        EXPECT_EQ(boxes[0].style, 8208);
        const std::regex report("Exception EConvertError in module runtime_test at [0-9A-F]{8}\\.\n'" +
                                std::regex_replace(std::string(text), std::regex(R"([$+\\.^*?()\[\]{}|])"), R"(\$&)") +
                                "' is not a valid integer value\\.");
        EXPECT_TRUE(std::regex_match(boxes[0].text, report)) << boxes[0].text;
    }
}

void LimitMemory() {
    const rlimit limit{256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &limit);
}

void AskGetMemForTooMuch() {
    LimitMemory();
    GetMem(std::size_t{1} << 30);
}

void AskForATooLongText() {
    LimitMemory();
    std::string text(std::size_t{1} << 30, 'x');
    std::fputs(text.c_str(), stderr);
}

// A block for the version query and the texts of the run alike.
TEST(GetMem, MemoryThatCantBeHadIsTheRuntimeReport) {
    for (void (*ask)() : {AskGetMemForTooMuch, AskForATooLongText}) {
    TestMachine machine;
    machine.Write("answers", "OK\n");
    EXPECT_EXIT(ask(), testing::ExitedWithCode(1), "");
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Application Error");
    EXPECT_EQ(boxes[0].style, 8208);
    EXPECT_TRUE(std::regex_match(
        boxes[0].text,
        std::regex("Exception EOutOfMemory in module runtime_test at [0-9A-F]{8}\\.\nOut of memory\\.")))
        << boxes[0].text;
    }
}

TEST(Halt, RunsTheEndOfRunStepsInReverseOrderThenExits) {
    TestMachine machine;
    EXPECT_EXIT(
        {
            AddExitProc([] { std::fputs("first started, ended last\n", stderr); });
            AddExitProc([] { std::fputs("second started, ended first\n", stderr); });
            Halt(7);
        },
        testing::ExitedWithCode(7), "second started, ended first\nfirst started, ended last");
}

}  // namespace
