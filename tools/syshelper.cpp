// syshelper: tells what this system shows and holds, for the expected texts
// and the checks of the Wine tier. Each request prints one JSON line:
//
//   acp            the ANSI code page
//   windir         the Windows folder
//   syserr CODE    the system's text for an error code, as the kit shows it
//   lang LCID      the name of a supported locale (hex LCID), as the kit shows
//                  it, or "<unknown>" when the system doesn't list it
//   regread KEY    the values of HKLM\KEY in the registry's 32-bit view as the
//                  "A" functions give them (names and data as hex bytes), or
//                  null when the key doesn't exist
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "textout.h"

namespace {

constexpr UINT kKitCodePage = 1251;

// The kit receives system texts in Windows-1251 and shows them from there:
// what 1251 can't carry comes out as '?'.
std::wstring AsKitShowsIt(const std::wstring& text)
{
    if (text.empty())
        return text;
    int size = WideCharToMultiByte(kKitCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(kKitCodePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    int length = MultiByteToWideChar(kKitCodePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring shown(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(kKitCodePage, 0, bytes.data(), size, shown.data(), length);
    return shown;
}

std::string Hex(const BYTE* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return "\"" + out + "\"";
}

std::string SystemText(DWORD code)
{
    std::vector<wchar_t> buffer(32 * 1024);
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), nullptr);
    std::wstring text(buffer.data(), length);
    return "{\"syserr\":" + std::to_string(code) + ",\"text\":" + JsonString(AsKitShowsIt(text)) + "}";
}

std::wstring LocaleInfo(LCID locale, LCTYPE type)
{
    wchar_t buffer[1024] = {};
    if (GetLocaleInfoW(locale, type, buffer, 1024) == 0)
        return {};
    return buffer;
}

LCID wantedLocale = 0;
bool localeListed = false;

// The kit lists a locale only when the system gives it an abbreviation.
BOOL CALLBACK CheckLocale(LPWSTR idText)
{
    auto id = static_cast<LCID>(std::wcstoul(idText, nullptr, 16));
    if (id == wantedLocale && !LocaleInfo(id, LOCALE_SABBREVLANGNAME).empty()) {
        localeListed = true;
        return FALSE;
    }
    return TRUE;
}

std::string LanguageName(const std::wstring& lcidText)
{
    wantedLocale = static_cast<LCID>(std::wcstoul(lcidText.c_str(), nullptr, 16));
    localeListed = false;
    EnumSystemLocalesW(CheckLocale, LCID_SUPPORTED);
    std::wstring name = localeListed ? LocaleInfo(wantedLocale, LOCALE_SLANGUAGE) : L"";
    if (name.empty())
        name = L"<unknown>";
    return "{\"lang\":" + JsonString(lcidText) + ",\"name\":" + JsonString(AsKitShowsIt(name)) + "}";
}

std::string WindowsFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    return "{\"windir\":" + JsonString(buffer) + "}";
}

std::string ValuesOf(HKEY key)
{
    std::string values;
    std::vector<char> name(16384 + 1);
    std::vector<BYTE> data(64 * 1024);
    for (DWORD index = 0;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG status = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_MORE_DATA && dataSize > data.size()) {
            data.resize(dataSize);
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        if (!values.empty())
            values += ",";
        values += "[" + Hex(reinterpret_cast<const BYTE*>(name.data()), nameSize) + "," +
                  std::to_string(type) + "," + Hex(data.data(), dataSize) + "]";
        ++index;
    }
    return "[" + values + "]";
}

std::string RegistryKey(const std::wstring& path)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key);
    std::string head = "{\"key\":" + JsonString(path) + ",\"values\":";
    if (status != ERROR_SUCCESS)
        return head + "null,\"status\":" + std::to_string(status) + "}";
    std::string values = ValuesOf(key);
    RegCloseKey(key);
    return head + values + "}";
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring request = argv[i];
        bool hasArgument = i + 1 < argc;
        if (request == L"acp")
            PrintLine("{\"acp\":" + std::to_string(GetACP()) + "}");
        else if (request == L"windir")
            PrintLine(WindowsFolder());
        else if (request == L"syserr" && hasArgument)
            PrintLine(SystemText(static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 0))));
        else if (request == L"lang" && hasArgument)
            PrintLine(LanguageName(argv[++i]));
        else if (request == L"regread" && hasArgument)
            PrintLine(RegistryKey(argv[++i]));
        else {
            PrintLine("{\"error\":" + JsonString(L"unknown request: " + request) + "}");
            return 2;
        }
    }
    return 0;
}
