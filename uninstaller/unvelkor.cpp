// unvelkor: puts back the language a BDE used before velkor switched it.
#include <string>

#include "APIprocs.h"
#include "bde.h"
#include "runtime.h"
#include "texts.h"

using namespace win;

namespace {

std::string LangCode;
std::string ResourceDll;
std::string RussianDll;

// The first argument of the Windows command line: arguments are split at
// bytes 1 to 32 outside double quotes, and the quotes are dropped.
std::string FirstArgument() {
    const char* p = GetCommandLineA();
    std::string arguments[2];
    for (std::string& argument : arguments) {
        while (*p >= 1 && *p <= ' ') ++p;
        bool quoted = false;
        while (*p != '\0' && (quoted || static_cast<unsigned char>(*p) > ' ')) {
            if (*p == '"')
                quoted = !quoted;
            else
                argument += *p;
            ++p;
        }
    }
    return arguments[1];
}

std::string Summary() {
    return texts::kUninstallSummaryHead + BdeFolder + texts::kLanguageLine +
           bde::LanguageName(bde::kRussianCode) + texts::kResourcesLine +
           bde::UpperAscii(RussianDll) + texts::kRestoredSettings + bde::LanguageName(LangCode) +
           texts::kResourcesLine + bde::UpperAscii(ResourceDll) + texts::kContinue;
}

bool FileExists(const std::string& path) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void ReturnPreviousLibrary() {
    const std::string library = BdeFolder + ResourceDll;
    const std::string backup = BdeFolder + bde::BackupDll(LangCode);
    if (FileExists(library))
        DeleteFileA(backup.c_str());
    else if (MoveFileA(backup.c_str(), library.c_str()) == 0)
        FatalError(texts::kCannotCopyFile + ResourceDll + ".", true);
}

void RestoreResource() {
    if (!bde::SetText(BdeKey, bde::kResourceValue, LangCode)) FatalError("", false);
}

void DeleteRussianFiles() {
    DeleteFileA((BdeFolder + RussianDll).c_str());
    for (const char* name : bde::kCompanionFiles) DeleteFileA((BdeFolder + name).c_str());
}

}  // namespace

int main() {
    AppTitle = texts::kUninstallerTitle;
    LangCode = FirstArgument();
    if (LangCode.empty() || LangCode.size() > bde::kLangCodeBound)
        FatalError(texts::kLangCodeRequired, false);
    if (!bde::OpenConfigKey()) FatalError(texts::kBdeNoLongerInstalled, false);
    ResourceDll = bde::Bounded(bde::ResourceDll(LangCode), bde::kUninstallerNameBound);
    RussianDll = bde::Bounded(bde::RussianDll(), bde::kUninstallerNameBound);
    if (!bde::ReadConfigValue(bde::kDllPathValue, bde::kDllPathReadLimit))
        FatalError(texts::kNoDllPath, false);
    BdeFolder = bde::FolderFromBuffer();
    if (!bde::ConfirmedTwice(Summary())) Halt(0);

    if (LangCode != bde::kRussianCode) {
        ReturnPreviousLibrary();
        RestoreResource();
        DeleteRussianFiles();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, bde::kRecordKey);
    }
    MessageBoxA(nullptr, texts::kRemoved, AppTitle.c_str(), MB_OK);
    Halt(0);
}
