// Message boxes on the simulated machine. Every box is recorded in the
// machine's boxes.log; its answer comes from the machine's answers file, else
// from the person at the terminal, else nobody sees it and it returns 0.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "codepage.h"
#include "machine.h"
#include "winapi.h"

namespace fs = std::filesystem;

namespace {

enum class Answer { Ok, Cancel, None };

constexpr win::UINT kButtonsMask = 0x0F;
constexpr win::UINT kIconMask = 0xF0;
constexpr win::UINT kIconInformation = 0x40;
// Windows puts tab stops eight average character widths apart, which in its
// proportional font clears a short label like "> Папка:"; ten columns do here.
constexpr size_t kTabWidth = 10;

bool HasCancelButton(win::UINT style) {
    return (style & kButtonsMask) == win::MB_OKCANCEL;
}

// A box with only OK answers OK to Esc as well.
int ResultOf(Answer answer, win::UINT style) {
    switch (answer) {
    case Answer::Ok: return win::IDOK;
    case Answer::Cancel: return HasCancelButton(style) ? win::IDCANCEL : win::IDOK;
    case Answer::None: return 0;
    }
    return 0;
}

const char* ResultName(int result) {
    if (result == win::IDOK) return "OK";
    if (result == win::IDCANCEL) return "CANCEL";
    return "NONE";
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// ----- The answers file -----

std::optional<std::string> ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file in one step, so that a crash leaves the old or the new one.
void RewriteFile(const fs::path& path, const std::string& content) {
    fs::path temporary = path;
    temporary += ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out.flush()) {
            std::fprintf(stderr, "winsim: can't write %s\n", temporary.c_str());
            return;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) std::fprintf(stderr, "winsim: can't replace %s\n", path.c_str());
}

Answer ParseAnswer(const std::string& line) {
    const std::string word = Upper(line);
    if (word == "OK") return Answer::Ok;
    // Closing a box answers it as Esc does: its Cancel button, if it has one.
    if (word == "CANCEL" || word == "CLOSE") return Answer::Cancel;
    if (word != "NONE") std::fprintf(stderr, "winsim: answers: unknown answer \"%s\"\n", line.c_str());
    return Answer::None;
}

// The next planned answer, removed from the file; nullopt when the machine
// plans none. An exhausted plan means nobody is there: None.
std::optional<Answer> NextPlannedAnswer() {
    const fs::path path = winsim::MachineDir() / "answers";
    std::optional<std::string> content = ReadWholeFile(path);
    if (!content) return std::nullopt;
    size_t pos = 0;
    while (pos < content->size()) {
        size_t end = std::min(content->find('\n', pos), content->size());
        std::string line = Trimmed(content->substr(pos, end - pos));
        pos = std::min(end + 1, content->size());
        if (line.empty()) continue;
        RewriteFile(path, content->substr(pos));
        return ParseAnswer(line);
    }
    return Answer::None;
}

// ----- The terminal -----

size_t DisplayWidth(const std::string& utf8) {
    size_t width = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) ++width;
    }
    return width;
}

std::string ExpandTabs(const std::string& utf8) {
    std::string out;
    size_t column = 0;
    for (unsigned char c : utf8) {
        if (c == '\t') {
            size_t spaces = kTabWidth - column % kTabWidth;
            out.append(spaces, ' ');
            column += spaces;
            continue;
        }
        out += static_cast<char>(c);
        if ((c & 0xC0) != 0x80) ++column;
    }
    return out;
}

// CR, LF and CR LF all break a line, as they do in a Windows box.
std::vector<std::string> TextLines(const std::string& utf8) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < utf8.size(); ++i) {
        char c = utf8[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
            lines.emplace_back();
            continue;
        }
        lines.back() += c;
    }
    for (std::string& line : lines) line = ExpandTabs(line);
    return lines;
}

const char* IconMark(win::UINT style) {
    switch (style & kIconMask) {
    case win::MB_ICONERROR: return "(x) ";
    case win::MB_ICONQUESTION: return "(?) ";
    case win::MB_ICONWARNING: return "(!) ";
    case kIconInformation: return "(i) ";
    default: return "";
    }
}

std::string Repeated(const char* piece, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += piece;
    return out;
}

std::string Padded(const std::string& text, size_t width) {
    size_t used = DisplayWidth(text);
    return text + std::string(width > used ? width - used : 0, ' ');
}

std::string DrawnBox(const std::string& caption, const std::string& text, win::UINT style) {
    const std::string mark = IconMark(style);
    std::vector<std::string> body;
    for (const std::string& line : TextLines(text)) {
        body.push_back((body.empty() ? mark : std::string(mark.size(), ' ')) + line);
    }
    const std::string buttons = HasCancelButton(style) ? "[O]K  [C]ancel" : "[O]K";
    size_t width = std::max(DisplayWidth(caption) + 3, DisplayWidth(buttons));
    for (const std::string& line : body) width = std::max(width, DisplayWidth(line));

    std::ostringstream out;
    out << "\n┌─ " << caption << ' ' << Repeated("─", width - DisplayWidth(caption) - 1) << "┐\n";
    out << "│ " << Padded("", width) << " │\n";
    for (const std::string& line : body) out << "│ " << Padded(line, width) << " │\n";
    out << "│ " << Padded("", width) << " │\n";
    out << "│ " << Padded(std::string(width - DisplayWidth(buttons), ' ') + buttons, width) << " │\n";
    out << "└" << Repeated("─", width + 2) << "┘\n";
    return out.str();
}

// Shows the box on the terminal and waits for o, c or Enter; None when the
// terminal can't be had or closes.
Answer AskAtTerminal(const std::string& caption, const std::string& text, win::UINT style) {
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr) return Answer::None;
    std::fputs(DrawnBox(caption, text, style).c_str(), tty);
    Answer answer = Answer::None;
    char reply[256];
    while (true) {
        std::fputs(HasCancelButton(style) ? "o = OK, c = Cancel > " : "o = OK > ", tty);
        std::fflush(tty);
        if (std::fgets(reply, sizeof reply, tty) == nullptr) break;
        const std::string word = Upper(Trimmed(reply));
        if (word.empty() || word == "O" || word == "OK") {
            answer = Answer::Ok;
            break;
        }
        if (word == "C" || word == "CANCEL") {
            answer = Answer::Cancel;
            break;
        }
    }
    std::fclose(tty);
    return answer;
}

// ----- The log -----

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[7];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// One line a box, opened and closed each time so a crash loses nothing.
void LogBox(const std::string& caption, const std::string& text, win::UINT style, int result) {
    std::string line = "{\"caption\":" + JsonString(caption) + ",\"text\":" + JsonString(text) +
                       ",\"style\":" + std::to_string(style) + ",\"answer\":\"" +
                       ResultName(result) + "\"}\n";
    std::ofstream log(winsim::MachineDir() / "boxes.log", std::ios::binary | std::ios::app);
    log << line;
    if (!log.flush()) std::fputs("winsim: can't write boxes.log\n", stderr);
}

std::string DefaultCaption() {
    return winsim::RussianSystem() ? "Ошибка" : "Error";
}

}  // namespace

namespace win {

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    DWORD code = 0;
    if (winsim::InjectedFailure("MessageBoxA", code)) {
        winsim::SetLastErrorCode(code);
        return 0;
    }
    (void)owner;  // the simulated boxes have no windows to belong to
    const std::string captionUtf8 =
        caption != nullptr ? winsim::Cp1251ToUtf8(caption) : DefaultCaption();
    const std::string textUtf8 = text != nullptr ? winsim::Cp1251ToUtf8(text) : std::string();

    std::optional<Answer> answer = NextPlannedAnswer();
    if (!answer) {
        answer = isatty(STDIN_FILENO) ? AskAtTerminal(captionUtf8, textUtf8, type) : Answer::None;
    }
    const int result = ResultOf(*answer, type);
    LogBox(captionUtf8, textUtf8, type, result);
    return result;
}

}  // namespace win
