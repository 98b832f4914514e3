// Asks the simulated machine what its system would show, for the scenario
// runner's expected texts: simquery syserr CODE | lang LCID | windir
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codepage.h"
#include "winapi.h"

using namespace win;

namespace {

LCID wanted;
std::string found;

BOOL Match(LPSTR idText) {
    const LCID id = static_cast<LCID>(std::strtoul(idText, nullptr, 16));
    char abbreviation[16] = {};
    if (id != wanted || GetLocaleInfoA(id, LOCALE_SABBREVLANGNAME, abbreviation, 16) == 0 ||
        abbreviation[0] == '\0')
        return 1;
    char name[1024] = {};
    GetLocaleInfoA(id, LOCALE_SLANGUAGE, name, sizeof name);
    found = name;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    std::string text;
    if (what == "syserr" && argc > 2) {
        char buffer[256] = {};
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                       static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0)), 0, buffer,
                       sizeof buffer, nullptr);
        text = buffer;
    } else if (what == "lang" && argc > 2) {
        wanted = static_cast<LCID>(std::strtoul(argv[2], nullptr, 16));
        EnumSystemLocalesA(Match, LCID_SUPPORTED);
        text = found.empty() ? "<unknown>" : found;
    } else if (what == "windir") {
        char buffer[256] = {};
        GetWindowsDirectoryA(buffer, sizeof buffer);
        text = buffer;
    } else {
        std::fprintf(stderr, "usage: simquery syserr CODE | lang LCID | windir\n");
        return 2;
    }
    const std::string utf8 = winsim::Cp1251ToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
}
