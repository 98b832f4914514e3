// Runs under Wine beside a planted version.dll: SystemFunction must take
// version.dll's functions from the system folder all the same.
//
//   system_dll_probe.exe plain   exit 0 when a load by bare name runs the
//                                planted file, so the check below means something
//   system_dll_probe.exe         the checks; exit 0 when all hold
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "system_dll.h"

namespace {

int failures = 0;

void Check(bool holds, const char* what)
{
    std::printf("%s %s\n", holds ? "ok  " : "FAIL", what);
    if (!holds)
        ++failures;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring SystemFolderFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}

std::wstring ProgramFolderFile(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

std::wstring ModuleFileOf(const void* address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return L"";
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// What the planted version.dll answers to every size query.
constexpr DWORD kPlantedAnswer = 0x7E57;

using SizeQuery = DWORD(WINAPI*)(LPCSTR, LPDWORD);

DWORD SizeOfKernelVersion(SizeQuery query)
{
    const std::wstring kernel = SystemFolderFile(L"kernel32.dll");
    char kernelPath[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, kernel.c_str(), -1, kernelPath, MAX_PATH, nullptr, nullptr);
    DWORD handle = 1;
    return query(kernelPath, &handle);
}

int PlainLoadRunsPlantedFile()
{
    HMODULE module = LoadLibraryW(L"version.dll");
    FARPROC query = module != nullptr ? GetProcAddress(module, "GetFileVersionInfoSizeA") : nullptr;
    const DWORD answer =
        query != nullptr ? SizeOfKernelVersion(reinterpret_cast<SizeQuery>(reinterpret_cast<void*>(query))) : 0;
    std::printf("a load by bare name answers %#lx\n", static_cast<unsigned long>(answer));
    return answer == kPlantedAnswer ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "plain") == 0)
        return PlainLoadRunsPlantedFile();

    Check(GetFileAttributesW(ProgramFolderFile(L"version.dll").c_str()) != INVALID_FILE_ATTRIBUTES,
          "a version.dll lies beside the program");

    void* found = SystemFunction(L"version.dll", "GetFileVersionInfoSizeA");
    Check(found != nullptr, "GetFileVersionInfoSizeA is found");
    if (found != nullptr) {
        Check(Lower(ModuleFileOf(found)) == Lower(SystemFolderFile(L"version.dll")),
              "it comes from the system folder's version.dll");
        const DWORD size = SizeOfKernelVersion(reinterpret_cast<SizeQuery>(found));
        Check(size > 0 && size != kPlantedAnswer,
              "called through the address, the system's code sizes kernel32.dll's version information");
    }
    void* second = SystemFunction(L"version.dll", "VerQueryValueA");
    HMODULE systemVersion = GetModuleHandleW(SystemFolderFile(L"version.dll").c_str());
    Check(second != nullptr && systemVersion != nullptr &&
              second == reinterpret_cast<void*>(GetProcAddress(systemVersion, "VerQueryValueA")),
          "a second function comes from the same module");
    void* other = SystemFunction(L"kernel32.dll", "GetTickCount");
    Check(other != nullptr &&
              other == reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount")),
          "another DLL's function comes from that DLL");

    SetLastError(0);
    Check(SystemFunction(L"version.dll", "NoSuchFunction") == nullptr &&
              GetLastError() == ERROR_PROC_NOT_FOUND,
          "a function the DLL lacks: null, last error 127");
    SetLastError(0);
    Check(SystemFunction(L"velkor-no-such.dll", "GetTickCount") == nullptr &&
              GetLastError() == ERROR_MOD_NOT_FOUND,
          "a DLL the system folder lacks: null, last error 126");

    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
