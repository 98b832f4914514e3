// holder: opens the given files without sharing and holds them open until
// its standard input closes or it is ended, as another program might.
// Prints one JSON line per file, then {"ready":true}.
#include <windows.h>

#include <string>
#include <vector>

#include "textout.h"

int wmain(int argc, wchar_t** argv)
{
    std::vector<HANDLE> held;
    bool all = true;
    for (int i = 1; i < argc; ++i) {
        HANDLE file = CreateFileW(argv[i], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        bool ok = file != INVALID_HANDLE_VALUE;
        PrintLine("{\"held\":" + JsonString(argv[i]) + ",\"ok\":" + (ok ? "true" : "false") +
                  ",\"error\":" + std::to_string(ok ? 0 : GetLastError()) + "}");
        if (ok)
            held.push_back(file);
        all = all && ok;
    }
    PrintLine(std::string("{\"ready\":") + (all ? "true" : "false") + "}");
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    for (HANDLE file : held)
        CloseHandle(file);
    return all ? 0 : 1;
}
