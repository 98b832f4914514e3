// syshelper: tells what this system shows and holds, for the expected texts
// and the checks of the Wine tier. Each request prints one JSON line:
//
//   acp            the ANSI code page
//   windir         the Windows folder
//   syserr CODE    the system's text for an error code, as the kit shows it
//   lang LCID      the name of a supported locale (hex LCID), as the kit shows
//                  it, or "<unknown>" when the system doesn't list it
//   regread KEY    the values of HKLM\KEY in the registry's 32-bit view:
//                  [name, type, data as hex], string data in the ANSI code
//                  page as the "A" functions wrote it; null when there's no key
//   regset KEY NAME TYPE HEX
//                  sets a value of HKLM\KEY (32-bit view) with RegSetValueExA
#include <windows.h>

#include <algorithm>
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

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// String data as the "A" functions store it: RegSetValueExA turns each ANSI
// char into one UTF-16 unit, so this gives back exactly the bytes written.
// (Wine's RegQueryValueExA would add a NUL to a string stored without one.)
std::vector<BYTE> AnsiData(const std::vector<BYTE>& wide)
{
    int units = static_cast<int>(wide.size() / 2);
    if (units == 0)
        return {};
    auto text = reinterpret_cast<const wchar_t*>(wide.data());
    int size = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
    std::vector<BYTE> ansi(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_ACP, 0, text, units, reinterpret_cast<char*>(ansi.data()), size, nullptr,
                        nullptr);
    return ansi;
}

std::string ValueData(HKEY key, const wchar_t* name, DWORD& type)
{
    std::vector<BYTE> data(1024);
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        LONG status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            data.resize(std::max<std::size_t>(size, data.size() * 2));
            continue;
        }
        if (status != ERROR_SUCCESS)
            return "null";
        data.resize(size);
        if (IsStringType(type))
            data = AnsiData(data);
        return Hex(data.data(), data.size());
    }
}

std::string ValuesOf(HKEY key)
{
    std::string values;
    std::vector<wchar_t> name(16384 + 1);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        if (RegEnumValueW(key, index, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        DWORD type = 0;
        std::string data = ValueData(key, name.data(), type);
        if (!values.empty())
            values += ",";
        values += "[" + JsonString(std::wstring(name.data(), nameSize)) + "," + std::to_string(type) +
                  "," + data + "]";
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

std::vector<BYTE> Bytes(const std::wstring& hex)
{
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

std::string Ansi(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(std::max(size, 1)), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), size, nullptr, nullptr);
    return ansi;
}

// The value written with the call the kit writes with, so the registry holds
// exactly what the kit would have left there.
std::string SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const std::wstring& hex)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        std::vector<BYTE> data = Bytes(hex);
        auto size = static_cast<DWORD>(data.size());
        // RegSetValueExA counts a string's NUL when the byte past the data is
        // one (Windows NT does so too): a byte that isn't keeps the data exact.
        data.push_back(0xFF);
        status = RegSetValueExA(key, Ansi(name).c_str(), 0, type, data.data(), size);
        RegCloseKey(key);
    }
    return "{\"key\":" + JsonString(path) + ",\"set\":" + JsonString(name) + ",\"status\":" +
           std::to_string(status) + "}";
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
        else if (request == L"regset" && i + 4 < argc) {
            PrintLine(SetValue(argv[i + 1], argv[i + 2], static_cast<DWORD>(std::wcstoul(argv[i + 3], nullptr, 0)),
                               argv[i + 4]));
            i += 4;
        }
        else {
            PrintLine("{\"error\":" + JsonString(L"unknown request: " + request) + "}");
            return 2;
        }
    }
    return 0;
}
