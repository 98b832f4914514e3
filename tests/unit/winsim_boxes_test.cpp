// Message boxes on the simulated machine: the log, planned answers and the
// terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "machine.h"
#include "test_machine.h"
#include "winapi.h"

namespace fs = std::filesystem;
using namespace win;

namespace {

// The log is UTF-8 while this file's plain literals are Windows-1251.
std::string Utf8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

class MessageBoxes : public ::testing::Test {
protected:
    void SetUp() override {
        // Nobody at a terminal unless a test brings one.
        savedStdin_ = dup(STDIN_FILENO);
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        close(devNull);
    }
    void TearDown() override {
        dup2(savedStdin_, STDIN_FILENO);
        close(savedStdin_);
    }

    std::vector<std::string> LogLines() { return Lines(ReadFile(dir_ / "boxes.log")); }

    TestMachine machine_;
    const fs::path& dir_ = machine_.root();
    int savedStdin_ = -1;
};

TEST_F(MessageBoxes, LogLineIsJsonInUtf8) {
    machine_.Write("answers", "OK\n");
    int result = MessageBoxA(nullptr,
                             "Будут установлены русские ресурсы.\r\r> Папка:\t C:\\BDE\r"
                             "\"Продолжить?\"\x01",
                             "Русификация BDE", MB_OKCANCEL | MB_ICONQUESTION);
    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_EQ(LogLines()[0],
              Utf8(u8R"({"caption":"Русификация BDE","text":"Будут установлены русские ресурсы.\r\r> Папка:\t C:\\BDE\r\"Продолжить?\"\u0001","style":33,"answer":"OK"})"));
}

TEST_F(MessageBoxes, MissingCaptionIsTheSystemsError) {
    machine_.Write("answers", "OK\nOK\n");
    machine_.SetSystemLanguage("0409");
    MessageBoxA(nullptr, "x", nullptr, MB_OK);
    machine_.SetSystemLanguage("0419");
    MessageBoxA(nullptr, "x", nullptr, MB_OK);
    std::vector<std::string> log = LogLines();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], R"({"caption":"Error","text":"x","style":0,"answer":"OK"})");
    EXPECT_EQ(log[1], Utf8(u8R"({"caption":"Ошибка","text":"x","style":0,"answer":"OK"})"));
}

struct AnswerCase {
    const char* planned;
    UINT style;
    int result;
    const char* logged;
};

TEST_F(MessageBoxes, PlannedAnswerGivesTheResultWindowsWould) {
    const AnswerCase cases[] = {
        {"OK\n", MB_OK, IDOK, "OK"},
        {"OK\n", MB_OKCANCEL, IDOK, "OK"},
        {"CANCEL\n", MB_OKCANCEL | MB_ICONWARNING, IDCANCEL, "CANCEL"},
        {"CANCEL\n", MB_OK | MB_ICONERROR, IDOK, "OK"},  // Esc on a box with only OK
        {"NONE\n", MB_OKCANCEL, 0, "NONE"},
        {"cancel\r\n", MB_OKCANCEL, IDCANCEL, "CANCEL"},
        {"", MB_OKCANCEL, 0, "NONE"},  // the plan is used up
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(std::string("answer ") + c.planned + " style " + std::to_string(c.style));
        fs::remove(dir_ / "boxes.log");
        machine_.Write("answers", c.planned);
        EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", c.style), c.result);
        std::vector<std::string> log = LogLines();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].find(std::string("\"answer\":\"") + c.logged + "\""), std::string::npos)
            << log[0];
        EXPECT_NE(log[0].find("\"style\":" + std::to_string(c.style) + ","), std::string::npos);
    }
}

TEST_F(MessageBoxes, AnswersAreConsumedAcrossProcesses) {
    machine_.Write("answers", "CANCEL\nOK\n");
    EXPECT_EQ(MessageBoxA(nullptr, "first", "c", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(ReadFile(dir_ / "answers"), "OK\n");

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        winsim::ReloadMachine();  // a new process knows nothing of the first
        _exit(MessageBoxA(nullptr, "second", "c", MB_OKCANCEL));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), IDOK);
    EXPECT_EQ(ReadFile(dir_ / "answers"), "");

    winsim::ReloadMachine();
    EXPECT_EQ(MessageBoxA(nullptr, "third", "c", MB_OKCANCEL), 0);

    std::vector<std::string> log = LogLines();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], R"({"caption":"c","text":"first","style":1,"answer":"CANCEL"})");
    EXPECT_EQ(log[1], R"({"caption":"c","text":"second","style":1,"answer":"OK"})");
    EXPECT_EQ(log[2], R"({"caption":"c","text":"third","style":1,"answer":"NONE"})");
}

TEST_F(MessageBoxes, PlannedFailureShowsNoBox) {
    machine_.Write("answers", "OK\n");
    machine_.Write("failures", "MessageBoxA 8\n");
    winsim::ReloadMachine();
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), 0);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(fs::exists(dir_ / "boxes.log"));
    EXPECT_EQ(ReadFile(dir_ / "answers"), "OK\n");
}

// ----- The terminal -----

// Reads what the terminal shows until want appears or the other side closes.
bool ReadUntil(int master, std::string& screen, const std::string& want) {
    while (want.empty() || screen.find(want) == std::string::npos) {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 10000) <= 0) return false;
        char chunk[512];
        ssize_t n = read(master, chunk, sizeof chunk);
        if (n <= 0) return want.empty();
        screen.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

// A controlling terminal is not enough: the box asks only when standard input
// is a terminal.
TEST_F(MessageBoxes, WithoutAnswersOrTerminalTheBoxCannotAppear) {
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        _exit(MessageBoxA(nullptr, "text", "caption", MB_OK | MB_ICONERROR));
    }
    std::string screen;
    ReadUntil(master, screen, "");
    close(master);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(screen.find("caption"), std::string::npos) << screen;
    std::vector<std::string> log = LogLines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], R"({"caption":"caption","text":"text","style":16,"answer":"NONE"})");
}

struct TerminalCase {
    UINT style;
    const char* typed;
    int result;
    const char* mark;
    const char* buttons;
};

TEST_F(MessageBoxes, TerminalShowsTheBoxAndReadsTheAnswer) {
    const TerminalCase cases[] = {
        {MB_OKCANCEL | MB_ICONERROR, "c\n", IDCANCEL, "(x) ", "[O]K  [C]ancel"},
        {MB_OKCANCEL | MB_ICONQUESTION, "what\no\n", IDOK, "(?) ", "[O]K  [C]ancel"},
        {MB_OK | MB_ICONWARNING, "\n", IDOK, "(!) ", "[O]K"},
        {MB_OK, "c\n", IDOK, "", "[O]K"},
        {MB_OKCANCEL, "\x04", 0, "", "[O]K  [C]ancel"},  // the terminal closes
    };
    for (const TerminalCase& c : cases) {
        SCOPED_TRACE("style " + std::to_string(c.style) + " typed " + c.typed);
        fs::remove(dir_ / "boxes.log");
        int master = -1;
        pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            _exit(MessageBoxA(nullptr, "Строка один\rДва:\tтабуляция", "Русификация BDE",
                              c.style));
        }
        std::string screen;
        EXPECT_TRUE(ReadUntil(master, screen, "> "));
        ASSERT_EQ(write(master, c.typed, std::strlen(c.typed)),
                  static_cast<ssize_t>(std::strlen(c.typed)));
        ReadUntil(master, screen, "");
        close(master);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.result);

        EXPECT_NE(screen.find(Utf8(u8"Русификация BDE")), std::string::npos) << screen;
        EXPECT_NE(screen.find(c.mark + Utf8(u8"Строка один")), std::string::npos) << screen;
        // CR starts a new line, indented under the first; TAB goes to the next stop.
        const std::string indent(std::strlen(c.mark), ' ');
        const std::string secondLine = Utf8(u8"\u2502 ") + indent + Utf8(u8"Два:      табуляция");
        EXPECT_NE(screen.find(secondLine), std::string::npos) << screen;
        EXPECT_NE(screen.find(c.buttons), std::string::npos) << screen;
        if ((c.style & 0x0F) == MB_OK) {
            EXPECT_EQ(screen.find("[C]ancel"), std::string::npos) << screen;
        }
        std::vector<std::string> log = LogLines();
        ASSERT_EQ(log.size(), 1u);
        const char* logged = c.result == IDOK ? "OK" : c.result == IDCANCEL ? "CANCEL" : "NONE";
        EXPECT_NE(log[0].find(std::string("\"answer\":\"") + logged + "\""), std::string::npos);
    }
}

}  // namespace
