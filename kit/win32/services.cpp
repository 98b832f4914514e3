// kit/winapi.h on real Windows: each service is the same call made for real.
//
// The adaptations: texts shown to the user or read from the system are
// carried as Windows-1251 whatever the system's ANSI code page is (the W
// functions do the work), and a 64-bit build reaches the registry's 32-bit
// view, where a 32-bit BDE keeps its keys.
#include "winapi.h"

// After winapi.h: windows.h defines macros with the same names as the
// win:: constants, so none of those constants is named below this line.
#include <windows.h>

#include "system_dll.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT kKitCodePage = 1251;

#ifdef _WIN64
constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kRegistryView = 0;
#endif

// The predefined keys are 32-bit values that Windows sign-extends in a
// 64-bit build; the kit's are zero-extended.
::HKEY NativeKey(win::HKEY key)
{
    auto value = reinterpret_cast<std::uintptr_t>(key);
    if (value >= 0x80000000u && value <= 0x800000FFu)
        return reinterpret_cast<::HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
    return reinterpret_cast<::HKEY>(key);
}

std::wstring WideFromKit(const char* text)
{
    if (text == nullptr)
        return {};
    int length = ::MultiByteToWideChar(kKitCodePage, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(kKitCodePage, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

// Stores length UTF-16 units in the kit's code page, NUL-terminated, as an
// "A" function stores its result; stored gets the chars without the NUL.
// No room for them: false with ERROR_INSUFFICIENT_BUFFER, buffer untouched.
bool StoreKitText(const wchar_t* wide, int length, char* buffer, DWORD size, DWORD& stored)
{
    int needed = length == 0 ? 0
                             : ::WideCharToMultiByte(kKitCodePage, 0, wide, length, nullptr, 0,
                                                     nullptr, nullptr);
    if (buffer == nullptr || static_cast<DWORD>(needed) + 1 > size) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (needed > 0)
        ::WideCharToMultiByte(kKitCodePage, 0, wide, length, buffer, needed, nullptr, nullptr);
    buffer[needed] = '\0';
    stored = static_cast<DWORD>(needed);
    return true;
}

win::LOCALE_ENUMPROCA currentLocaleProc = nullptr;

// version.dll is no KnownDLL: its functions come from the system folder, so
// that a version.dll beside the program is never loaded. Null, with the last
// error set, when they can't be had.
template <typename Function>
Function VersionFunction(const char* name)
{
    return reinterpret_cast<Function>(SystemFunction(L"version.dll", name));
}

BOOL CALLBACK LocaleTrampoline(LPSTR locale)
{
    return currentLocaleProc(locale);
}

}  // namespace

namespace win {

// advapi32

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM samDesired, HKEY* result)
{
    ::HKEY opened = nullptr;
    LSTATUS status = ::RegOpenKeyExA(NativeKey(key), subKey, options, samDesired | kRegistryView,
                                     &opened);
    if (result != nullptr)
        *result = reinterpret_cast<HKEY>(opened);
    return status;
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM samDesired, void* securityAttributes, HKEY* result,
                        DWORD* disposition)
{
    ::HKEY created = nullptr;
    ::DWORD how = 0;
    LSTATUS status = ::RegCreateKeyExA(NativeKey(key), subKey, reserved, keyClass, options,
                                       samDesired | kRegistryView,
                                       static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                                       &created, disposition != nullptr ? &how : nullptr);
    if (result != nullptr)
        *result = reinterpret_cast<HKEY>(created);
    if (disposition != nullptr)
        *disposition = how;
    return status;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize)
{
    ::DWORD reservedCopy = reserved != nullptr ? *reserved : 0;
    ::DWORD typeCopy = 0;
    ::DWORD sizeCopy = dataSize != nullptr ? *dataSize : 0;
    LSTATUS status = ::RegQueryValueExA(NativeKey(key), valueName,
                                        reserved != nullptr ? &reservedCopy : nullptr,
                                        type != nullptr ? &typeCopy : nullptr, data,
                                        dataSize != nullptr ? &sizeCopy : nullptr);
    if (type != nullptr)
        *type = typeCopy;
    if (dataSize != nullptr)
        *dataSize = sizeCopy;
    return status;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize)
{
    return ::RegSetValueExA(NativeKey(key), valueName, reserved, type, data, dataSize);
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
#ifdef _WIN64
    return ::RegDeleteKeyExA(NativeKey(key), subKey, KEY_WOW64_32KEY, 0);
#else
    return ::RegDeleteKeyA(NativeKey(key), subKey);
#endif
}

// kernel32

DWORD GetLastError()
{
    return ::GetLastError();
}

void SetLastError(DWORD code)
{
    ::SetLastError(code);
}

BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists)
{
    return ::CopyFileA(existingFileName, newFileName, failIfExists);
}

BOOL MoveFileA(LPCSTR existingFileName, LPCSTR newFileName)
{
    return ::MoveFileA(existingFileName, newFileName);
}

BOOL DeleteFileA(LPCSTR fileName)
{
    return ::DeleteFileA(fileName);
}

HANDLE FindFirstFileA(LPCSTR fileName, WIN32_FIND_DATAA* findData)
{
    ::WIN32_FIND_DATAA found{};
    ::HANDLE handle = ::FindFirstFileA(fileName, &found);
    if (handle != reinterpret_cast<::HANDLE>(static_cast<std::intptr_t>(-1)) && findData != nullptr) {
        findData->dwFileAttributes = found.dwFileAttributes;
        findData->ftCreationTime = {found.ftCreationTime.dwLowDateTime, found.ftCreationTime.dwHighDateTime};
        findData->ftLastAccessTime = {found.ftLastAccessTime.dwLowDateTime,
                                      found.ftLastAccessTime.dwHighDateTime};
        findData->ftLastWriteTime = {found.ftLastWriteTime.dwLowDateTime,
                                     found.ftLastWriteTime.dwHighDateTime};
        findData->nFileSizeHigh = found.nFileSizeHigh;
        findData->nFileSizeLow = found.nFileSizeLow;
        findData->dwReserved0 = found.dwReserved0;
        findData->dwReserved1 = found.dwReserved1;
        static_assert(sizeof findData->cFileName == sizeof found.cFileName);
        static_assert(sizeof findData->cAlternateFileName == sizeof found.cAlternateFileName);
        std::memcpy(findData->cFileName, found.cFileName, sizeof found.cFileName);
        std::memcpy(findData->cAlternateFileName, found.cAlternateFileName,
                    sizeof found.cAlternateFileName);
    }
    return handle;
}

BOOL FindClose(HANDLE findFile)
{
    return ::FindClose(findFile);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    return ::GetWindowsDirectoryA(buffer, size);
}

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size, va_list* arguments)
{
    // The longest text FormatMessage produces is 64K bytes.
    std::vector<wchar_t> wide(32 * 1024);
    ::DWORD length = ::FormatMessageW(flags, source, messageId, languageId, wide.data(),
                                      static_cast<::DWORD>(wide.size()), arguments);
    if (length == 0)
        return 0;
    ::DWORD stored = 0;
    if (!StoreKitText(wide.data(), static_cast<int>(length), buffer, size, stored))
        return 0;
    return stored;
}

BOOL EnumSystemLocalesA(LOCALE_ENUMPROCA enumProc, DWORD flags)
{
    currentLocaleProc = enumProc;
    BOOL result = ::EnumSystemLocalesA(LocaleTrampoline, flags);
    currentLocaleProc = nullptr;
    return result;
}

int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size)
{
    if (size < 0 || (size > 0 && data == nullptr)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int length = ::GetLocaleInfoW(locale, type, nullptr, 0);
    if (length <= 0)
        return 0;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    length = ::GetLocaleInfoW(locale, type, wide.data(), length);
    if (length <= 0)
        return 0;
    // Here, as in the A function's result, the count includes the NUL.
    int chars = length - 1;
    if (size == 0) {
        int needed = chars == 0 ? 0
                                : ::WideCharToMultiByte(kKitCodePage, 0, wide.data(), chars,
                                                        nullptr, 0, nullptr, nullptr);
        return needed + 1;
    }
    ::DWORD stored = 0;
    if (!StoreKitText(wide.data(), chars, data, static_cast<::DWORD>(size), stored))
        return 0;
    return static_cast<int>(stored) + 1;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    return ::GetModuleFileNameA(static_cast<::HMODULE>(module), fileName, size);
}

HMODULE GetModuleHandleA(LPCSTR moduleName)
{
    return ::GetModuleHandleA(moduleName);
}

LPSTR GetCommandLineA()
{
    return ::GetCommandLineA();
}

void ExitProcess(UINT exitCode)
{
    ::ExitProcess(exitCode);
}

// user32

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    std::wstring wideText = WideFromKit(text);
    std::wstring wideCaption = WideFromKit(caption);
    return ::MessageBoxW(reinterpret_cast<::HWND>(owner), wideText.c_str(),
                         caption != nullptr ? wideCaption.c_str() : nullptr, type);
}

// version

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, DWORD* handle)
{
    using Query = ::DWORD(WINAPI*)(LPCSTR, LPDWORD);
    const auto query = VersionFunction<Query>("GetFileVersionInfoSizeA");
    if (query == nullptr)
        return 0;
    ::DWORD zero = 0;
    ::DWORD size = query(fileName, handle != nullptr ? &zero : nullptr);
    if (handle != nullptr)
        *handle = zero;
    return size;
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, void* data)
{
    using Query = ::BOOL(WINAPI*)(LPCSTR, ::DWORD, ::DWORD, LPVOID);
    const auto query = VersionFunction<Query>("GetFileVersionInfoA");
    if (query == nullptr)
        return 0;
    return query(fileName, handle, size, data);
}

BOOL VerQueryValueA(const void* block, LPCSTR subBlock, void** buffer, UINT* length)
{
    using Query = ::BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    const auto query = VersionFunction<Query>("VerQueryValueA");
    if (query == nullptr)
        return 0;
    return query(block, subBlock, buffer, length);
}

}  // namespace win
