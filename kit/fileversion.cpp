// The version query of the shared unit; only the installer links it.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "APIprocs.h"
#include "runtime.h"
#include "texts.h"

using namespace win;

namespace {

// Working values of GetFileVersionStr; it is not reentrant.
DWORD versionValueLength;
void* versionBlock;
void* versionValue;
DWORD versionBlockSize;

std::string Hex4(unsigned number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04X", number);
    return digits;
}

bool QueryVersionValue(const std::string& subBlock) {
    UINT length = 0;
    const bool found = VerQueryValueA(versionBlock, subBlock.c_str(), &versionValue, &length) != 0;
    versionValueLength = length;
    return found;
}

}  // namespace

std::string GetFileVersionStr(const std::string& fileName, std::int32_t language, bool strict) {
    std::string result;
    versionBlockSize = GetFileVersionInfoSizeA(fileName.c_str(), &versionValueLength);
    if (strict && GetLastError() != 0) FatalError("", false);
    if (versionBlockSize == 0) return result;

    versionBlock = GetMem(versionBlockSize);
    if (GetFileVersionInfoA(fileName.c_str(), versionValueLength, versionBlockSize, versionBlock) == 0)
        FatalError("", false);

    if (QueryVersionValue("\\VarFileInfo\\Translation")) {
        // The first entry: a language identifier and a code page, 16 bits each.
        // A table shorter than one entry reads as zeros past its end.
        WORD entry[2] = {};
        std::memcpy(entry, versionValue, std::min<std::size_t>(sizeof entry, versionValueLength));
        if (!QueryVersionValue("\\StringfileInfo\\" + Hex4(entry[0]) + Hex4(entry[1]) +
                               "\\FileVersion"))
            FatalError(texts::kNoVersionInfo + fileName + ".", false);
    } else if (!QueryVersionValue("\\StringfileInfo\\" +
                                  Hex4(static_cast<unsigned>(language + 1024)) + "04E4\\FileVersion")) {
        FatalError(texts::kCannotGetVersionInfo + fileName + ".", false);
    }
    const char* value = static_cast<const char*>(versionValue);
    result.assign(value, strnlen(value, versionValueLength));

    FreeMem(versionBlock);
    versionBlock = nullptr;
    return result;
}
