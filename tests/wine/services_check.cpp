// Checks kit/win32/services.cpp against the system's own "A" functions under
// Wine. On a system whose ANSI code page is 1251 the A functions give exactly
// what the kit's services must give (Windows-1251 text, their sizes and
// errors); elsewhere the texts compared are plain ASCII and agree as well.
//
//   services_check          one JSON line per check: {"check", "ok", "detail"}
//   services_check box      shows the kit's message box (Windows-1251 text)
#include "winapi.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The kit's constants, taken before windows.h defines macros of their names.
namespace kit {
const win::HKEY localMachine = win::HKEY_LOCAL_MACHINE;
const win::HANDLE invalidHandle = win::INVALID_HANDLE_VALUE;
constexpr win::REGSAM queryAndCreate = win::KEY_QUERY_VALUE | win::KEY_CREATE_SUB_KEY;
constexpr win::REGSAM setValue = win::KEY_SET_VALUE;
constexpr win::UINT questionBox = win::MB_OKCANCEL | win::MB_ICONQUESTION;
}  // namespace kit

#include <windows.h>

namespace {

void Report(const std::string& check, bool ok, const std::string& detail = "")
{
    std::string escaped;
    for (char c : detail) {
        if (c == '"' || c == '\\')
            escaped += '\\';
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            escaped += hex;
        } else {
            escaped += c;
        }
    }
    std::string line = "{\"check\":\"" + check + "\",\"ok\":" + (ok ? "true" : "false") +
                       ",\"detail\":\"" + escaped + "\"}\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

struct Outcome {
    long result;
    DWORD error;
    std::string text;

    bool operator==(const Outcome&) const = default;
};

std::string Show(const Outcome& outcome)
{
    return std::to_string(outcome.result) + "/" + std::to_string(outcome.error) + "/" + outcome.text;
}

constexpr DWORD kUntouched = 0xDEAD;

Outcome KitFormatMessage(DWORD code, DWORD size)
{
    std::vector<char> buffer(size + 1, 'x');
    SetLastError(kUntouched);
    long result = win::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer.data(), size, nullptr);
    return {result, GetLastError(), result > 0 ? std::string(buffer.data()) : std::string(1, buffer[0])};
}

Outcome SystemFormatMessage(DWORD code, DWORD size)
{
    std::vector<char> buffer(size + 1, 'x');
    SetLastError(kUntouched);
    long result = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer.data(), size, nullptr);
    return {result, GetLastError(), result > 0 ? std::string(buffer.data()) : std::string(1, buffer[0])};
}

void CheckFormatMessage()
{
    for (DWORD code : {2u, 3u, 5u, 32u, 87u, 122u, 193u, 1812u, 0x7FFFu}) {
        Outcome fits = SystemFormatMessage(code, 1024);
        std::string name = "FormatMessageA " + std::to_string(code);
        Outcome kit = KitFormatMessage(code, 1024);
        Report(name, kit == fits, Show(kit) + " vs " + Show(fits));
        if (fits.result <= 0)
            continue;
        // Exactly room for the text and its NUL, then one char less.
        auto length = static_cast<DWORD>(fits.result);
        Outcome kitExact = KitFormatMessage(code, length + 1);
        Report(name + " exact buffer", kitExact == SystemFormatMessage(code, length + 1), Show(kitExact));
        Outcome kitShort = KitFormatMessage(code, length);
        Outcome systemShort = SystemFormatMessage(code, length);
        Report(name + " short buffer", kitShort.result == 0 && kitShort.error == systemShort.error &&
                                           systemShort.result == 0,
               Show(kitShort) + " vs " + Show(systemShort));
    }
}

Outcome KitLocaleInfo(LCID locale, LCTYPE type, int size)
{
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, 'x');
    SetLastError(kUntouched);
    long result = win::GetLocaleInfoA(locale, type, size > 0 ? buffer.data() : nullptr, size);
    return {result, result > 0 ? 0 : GetLastError(), size > 0 && result > 0 ? std::string(buffer.data()) : ""};
}

Outcome SystemLocaleInfo(LCID locale, LCTYPE type, int size)
{
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, 'x');
    SetLastError(kUntouched);
    long result = GetLocaleInfoA(locale, type, size > 0 ? buffer.data() : nullptr, size);
    return {result, result > 0 ? 0 : GetLastError(), size > 0 && result > 0 ? std::string(buffer.data()) : ""};
}

void CheckLocaleInfo()
{
    for (LCID locale : {0x409u, 0x419u, 0x407u, 0x7F7Fu}) {
        for (LCTYPE type : {LCTYPE{LOCALE_SLANGUAGE}, LCTYPE{LOCALE_SABBREVLANGNAME}}) {
            std::string name = "GetLocaleInfoA " + std::to_string(locale) + "/" + std::to_string(type);
            Outcome asked = SystemLocaleInfo(locale, type, 0);
            Outcome kitAsked = KitLocaleInfo(locale, type, 0);
            Report(name + " size query", kitAsked == asked, Show(kitAsked) + " vs " + Show(asked));
            int sizes[] = {256, static_cast<int>(asked.result), static_cast<int>(asked.result) - 1};
            for (int size : sizes) {
                if (size <= 0)
                    continue;
                Outcome kit = KitLocaleInfo(locale, type, size);
                Outcome system = SystemLocaleInfo(locale, type, size);
                Report(name + " size " + std::to_string(size), kit == system, Show(kit) + " vs " + Show(system));
            }
        }
    }
}

std::vector<std::string> listed;

win::BOOL ListKit(win::LPSTR locale)
{
    listed.push_back(locale);
    return TRUE;
}

win::BOOL FirstThree(win::LPSTR locale)
{
    listed.push_back(locale);
    return listed.size() < 3;
}

BOOL CALLBACK ListSystem(LPSTR locale)
{
    listed.push_back(locale);
    return TRUE;
}

void CheckLocaleList()
{
    listed.clear();
    EnumSystemLocalesA(ListSystem, LCID_SUPPORTED);
    std::vector<std::string> system = listed;
    listed.clear();
    BOOL ok = win::EnumSystemLocalesA(ListKit, LCID_SUPPORTED);
    Report("EnumSystemLocalesA lists what the system lists", ok && listed == system && !system.empty(),
           std::to_string(listed.size()) + " vs " + std::to_string(system.size()));
    listed.clear();
    win::EnumSystemLocalesA(FirstThree, LCID_SUPPORTED);
    Report("EnumSystemLocalesA stops when told", listed.size() == 3, std::to_string(listed.size()));
}

constexpr char kKey[] = "Software\\VelkorServicesCheck";

HKEY OpenInView(const char* path, REGSAM view)
{
    HKEY key = nullptr;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &key) == ERROR_SUCCESS ? key : nullptr;
}

void MakeInView(const char* path, REGSAM view, const char* value)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
    RegSetValueExA(key, "Where", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
    RegCloseKey(key);
}

void RemoveInView(const char* path, REGSAM view)
{
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(path) + "\\Child").c_str(), view, 0);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, view, 0);
}

std::string KitValue(win::HKEY key, win::DWORD& type, win::DWORD& size, win::LSTATUS& status)
{
    win::BYTE data[64] = {};
    status = win::RegQueryValueExA(key, "Where", nullptr, &type, data, &size);
    return status == 0 ? reinterpret_cast<char*>(data) : "";
}

// The kit's registry calls reach the 32-bit view, where a 32-bit BDE keeps its keys.
void CheckRegistryView()
{
    RemoveInView(kKey, KEY_WOW64_32KEY);
    RemoveInView(kKey, KEY_WOW64_64KEY);
    MakeInView(kKey, KEY_WOW64_32KEY, "32");
    MakeInView(kKey, KEY_WOW64_64KEY, "64");

    win::HKEY key = nullptr;
    win::LSTATUS status = win::RegOpenKeyExA(kit::localMachine, kKey, 0, kit::queryAndCreate, &key);
    win::DWORD type = 0, size = 64;
    std::string value = status == 0 ? KitValue(key, type, size, status) : "";
    Report("RegOpenKeyExA opens the 32-bit view", status == 0 && value == "32" && type == REG_SZ && size == 3,
           value + " type " + std::to_string(type) + " size " + std::to_string(size));

    win::DWORD small = 1;
    KitValue(key, type, small, status);
    Report("RegQueryValueExA asks for room", status == ERROR_MORE_DATA && small == 3,
           std::to_string(status) + " " + std::to_string(small));

    win::HKEY child = nullptr;
    win::DWORD disposition = 0;
    status = win::RegCreateKeyExA(key, "Child", 0, nullptr, 0, kit::setValue, nullptr, &child, &disposition);
    HKEY seen32 = OpenInView((std::string(kKey) + "\\Child").c_str(), KEY_WOW64_32KEY);
    HKEY seen64 = OpenInView((std::string(kKey) + "\\Child").c_str(), KEY_WOW64_64KEY);
    Report("RegCreateKeyExA creates in the 32-bit view",
           status == 0 && disposition == REG_CREATED_NEW_KEY && seen32 != nullptr && seen64 == nullptr,
           std::to_string(status) + " disposition " + std::to_string(disposition));
    if (seen32 != nullptr)
        RegCloseKey(seen32);
    if (seen64 != nullptr)
        RegCloseKey(seen64);

    status = win::RegDeleteKeyA(kit::localMachine, (std::string(kKey) + "\\Child").c_str());
    seen32 = OpenInView((std::string(kKey) + "\\Child").c_str(), KEY_WOW64_32KEY);
    Report("RegDeleteKeyA deletes in the 32-bit view", status == 0 && seen32 == nullptr, std::to_string(status));
    status = win::RegDeleteKeyA(kit::localMachine, kKey);
    HKEY other = OpenInView(kKey, KEY_WOW64_64KEY);
    Report("RegDeleteKeyA leaves the 64-bit view alone", status == 0 && other != nullptr, std::to_string(status));
    if (other != nullptr)
        RegCloseKey(other);
    RemoveInView(kKey, KEY_WOW64_32KEY);
    RemoveInView(kKey, KEY_WOW64_64KEY);
}

void CheckFindFile()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    WIN32_FIND_DATAA system{};
    HANDLE systemHandle = FindFirstFileA(path, &system);
    win::WIN32_FIND_DATAA kit{};
    win::HANDLE kitHandle = win::FindFirstFileA(path, &kit);
    bool same = kitHandle != kit::invalidHandle && kit.dwFileAttributes == system.dwFileAttributes &&
                kit.nFileSizeLow == system.nFileSizeLow && kit.nFileSizeHigh == system.nFileSizeHigh &&
                kit.ftLastWriteTime.dwLowDateTime == system.ftLastWriteTime.dwLowDateTime &&
                std::string(kit.cFileName) == system.cFileName &&
                std::string(kit.cAlternateFileName) == system.cAlternateFileName;
    Report("FindFirstFileA fills the kit's record", same, kit.cFileName);
    win::FindClose(kitHandle);
    FindClose(systemHandle);

    win::WIN32_FIND_DATAA none{};
    win::HANDLE missing = win::FindFirstFileA("C:\\no such folder\\*", &none);
    Report("FindFirstFileA reports a missing folder", missing == kit::invalidHandle && GetLastError() == 3,
           std::to_string(GetLastError()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "box")
        return win::MessageBoxA(nullptr, "Проверка связи:\r\t«ёЁ» №1", "Русификация BDE",
                                kit::questionBox);
    CheckFormatMessage();
    CheckLocaleInfo();
    CheckLocaleList();
    CheckRegistryView();
    CheckFindFile();
    return 0;
}
