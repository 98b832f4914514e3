// velkor: switches an installed BDE to Russian messages.
#include <string>

#include "APIprocs.h"
#include "bde.h"
#include "runtime.h"
#include "texts.h"

using namespace win;

namespace {

std::string UninstallCommand;
std::string ResourceDll;
std::string VersionDigits;
std::string RussianDll;
std::string LangCode;

std::string Summary() {
    return texts::kInstallSummaryHead + BdeFolder + texts::kLanguageLine +
           bde::LanguageName(LangCode) + texts::kResourcesLine + bde::UpperAscii(ResourceDll) +
           texts::kVersionOf + VersionText + texts::kNewResources + bde::UpperAscii(RussianDll) +
           texts::kContinue;
}

void SurveyInstalledBde() {
    if (!bde::OpenConfigKey()) FatalError(texts::kBdeNotInstalled, false);
    if (!bde::ReadConfigValue(bde::kResourceValue, bde::kResourceReadLimit))
        FatalError(texts::kNoResource, false);
    LangCode = bde::LangCodeFromBuffer();
    ResourceDll = bde::Bounded(bde::ResourceDll(LangCode), bde::kInstallerNameBound);
    RussianDll = bde::Bounded(bde::RussianDll(), bde::kInstallerNameBound);
    if (!bde::ReadConfigValue(bde::kDllPathValue, bde::kDllPathReadLimit))
        FatalError(texts::kNoDllPath, false);
    BdeFolder = bde::FolderFromBuffer();
    const std::int32_t language = bde::LanguageNumber(LangCode);
    VersionText = GetFileVersionStr(BdeFolder + ResourceDll, language, true);
}

void CopyFromKit(const std::string& source, const std::string& target, const std::string& shownName) {
    const std::string from = bde::ProgramFolder() + source;
    const std::string to = BdeFolder + target;
    if (CopyFileA(from.c_str(), to.c_str(), 0) == 0)
        FatalError(texts::kCannotCopyFile + shownName + ".", true);
}

void CopyCompanionFiles() {
    for (const char* name : bde::kCompanionFiles) CopyFromKit(name, name, name);
}

void KeepPreviousLibrary() {
    const std::string backup = BdeFolder + bde::BackupDll(LangCode);
    const std::string current = BdeFolder + ResourceDll;
    DeleteFileA(backup.c_str());
    if (MoveFileA(current.c_str(), backup.c_str()) == 0) FatalError("", false);
}

void SwitchResourceToRussian() {
    if (!bde::SetText(BdeKey, bde::kResourceValue, bde::kRussianCode)) FatalError("", false);
}

[[noreturn]] void RollBackRegistration() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, bde::kRecordKey);
    FatalError(texts::kCannotSetUpUninstaller, true);
}

void RegisterUninstaller() {
    // A folder that the query can't give in full is no folder to register.
    const UINT folderLength = GetWindowsDirectoryA(TextBuffer, sizeof TextBuffer);
    if (folderLength >= sizeof TextBuffer) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (folderLength == 0 || folderLength >= sizeof TextBuffer) RollBackRegistration();
    const std::string windowsFolder = BufferText();
    UninstallCommand = bde::UninstallString(windowsFolder, LangCode);

    const std::string from = bde::ProgramFolder() + bde::kUninstallerFile;
    const std::string to = windowsFolder + "\\" + bde::kUninstallerFile;
    if (CopyFileA(from.c_str(), to.c_str(), 0) == 0) RollBackRegistration();
    if (!bde::Succeeded(RegOpenKeyExA(HKEY_LOCAL_MACHINE, bde::kUninstallKey, 0, bde::kKeyAccess, &BdeKey)))
        RollBackRegistration();
    char noClass[] = "";
    DWORD disposition = 0;
    if (!bde::Succeeded(RegCreateKeyExA(BdeKey, bde::kRecordName, 0, noClass, REG_OPTION_NON_VOLATILE,
                                   bde::kKeyAccess, nullptr, &BdeKey, &disposition)))
        RollBackRegistration();
    if (!bde::SetText(BdeKey, bde::kDisplayNameValue, AppTitle)) RollBackRegistration();
    if (!bde::SetText(BdeKey, bde::kUninstallStringValue, UninstallCommand)) RollBackRegistration();
}

}  // namespace

int main() {
    AppTitle = texts::kInstallerTitle;
    SurveyInstalledBde();
    if (!bde::ConfirmedTwice(Summary())) Halt(1);

    VersionDigits = bde::VersionDigits(VersionText);
    if (VersionText.starts_with('5')) CopyCompanionFiles();
    CopyFromKit(bde::PackageDll(VersionDigits), RussianDll, RussianDll);
    if (LangCode != bde::kRussianCode) {
        KeepPreviousLibrary();
        SwitchResourceToRussian();
        RegisterUninstaller();
    }
    MessageBoxA(nullptr, texts::kInstalled, AppTitle.c_str(), MB_OK);
    Halt(0);
}
