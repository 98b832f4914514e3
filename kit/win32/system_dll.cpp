#include "system_dll.h"

#include <windows.h>

#include <cwchar>

namespace {

struct LoadedDll {
    wchar_t name[32];
    HMODULE module;
};

// A program needs one or two such DLLs; beyond these they are loaded again
// on each call, which the loader answers from its own list.
LoadedDll loaded[4];

HMODULE CachedModule(const wchar_t* dll)
{
    for (const LoadedDll& entry : loaded)
        if (entry.module != nullptr && std::wcscmp(entry.name, dll) == 0)
            return entry.module;
    return nullptr;
}

void Remember(const wchar_t* dll, HMODULE module)
{
    if (std::wcslen(dll) >= sizeof loaded[0].name / sizeof loaded[0].name[0])
        return;
    for (LoadedDll& entry : loaded)
        if (entry.module == nullptr) {
            std::wcscpy(entry.name, dll);
            entry.module = module;
            return;
        }
}

HMODULE LoadFromSystemFolder(const wchar_t* dll)
{
    wchar_t path[MAX_PATH + 64];
    const UINT folderLength = ::GetSystemDirectoryW(path, MAX_PATH);
    if (folderLength == 0)
        return nullptr;
    const std::size_t nameLength = std::wcslen(dll);
    if (folderLength >= MAX_PATH || folderLength + 1 + nameLength >= sizeof path / sizeof path[0]) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    path[folderLength] = L'\\';
    std::wmemcpy(path + folderLength + 1, dll, nameLength + 1);
    return ::LoadLibraryW(path);
}

}  // namespace

void* SystemFunction(const wchar_t* dll, const char* name)
{
    HMODULE module = CachedModule(dll);
    if (module == nullptr) {
        module = LoadFromSystemFolder(dll);
        if (module == nullptr)
            return nullptr;
        Remember(dll, module);
    }
    return reinterpret_cast<void*>(::GetProcAddress(module, name));
}
