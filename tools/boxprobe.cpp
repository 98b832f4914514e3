// boxprobe: a stand-in for the kit's programs in the tier's own tests, so
// that the driver and the machine set-up are checked against known answers.
//
//   boxprobe box STYLE CAPTION TEXT [box ...]   message boxes one after the
//            other; the exit code is their results as decimal digits
//   boxprobe wait SECONDS                       shows nothing for that long
//   boxprobe copy FROM TO                       exit code 0 or the error code
//
// In CAPTION and TEXT, \r, \n and \t stand for those characters.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring Unescaped(const std::wstring& text)
{
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size()) {
            wchar_t next = text[i + 1];
            if (next == L'r' || next == L'n' || next == L't') {
                out += next == L'r' ? L'\r' : next == L'n' ? L'\n' : L'\t';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"wait" && argc == 3) {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10) * 1000));
        return 0;
    }
    if (mode == L"copy" && argc == 4)
        return CopyFileW(argv[2], argv[3], FALSE) ? 0 : static_cast<int>(GetLastError());
    int results = 0;
    int i = 1;
    for (; i + 3 < argc && std::wstring(argv[i]) == L"box"; i += 4) {
        auto style = static_cast<UINT>(std::wcstoul(argv[i + 1], nullptr, 0));
        int result = MessageBoxW(nullptr, Unescaped(argv[i + 3]).c_str(), Unescaped(argv[i + 2]).c_str(), style);
        results = results * 10 + result;
    }
    return i == argc && i > 1 ? results : 255;
}
