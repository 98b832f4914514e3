#include "bde.h"

#include <cstring>

#include "APIprocs.h"
#include "runtime.h"
#include "texts.h"

using namespace win;

namespace bde {

std::string Bounded(const std::string& text, std::size_t bound) { return text.substr(0, bound); }

std::string UpperAscii(const std::string& text) {
    std::string upper = text;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

bool OpenConfigKey() {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, kKeyAccess, &BdeKey) == ERROR_SUCCESS;
}

bool ReadConfigValue(const char* name, DWORD limit) {
    TextSize = limit;
    return RegQueryValueExA(BdeKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(TextBuffer),
                            &TextSize) == ERROR_SUCCESS;
}

bool Succeeded(LSTATUS status) {
    if (status != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

bool SetText(HKEY key, const char* name, const std::string& text) {
    return Succeeded(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>(text.size() + 1)));
}

std::string LangCodeFromBuffer() { return Bounded(BufferText(), kLangCodeBound); }

std::string FolderFromBuffer() {
    std::string folder;
    for (DWORD i = 0; i < TextSize && i < sizeof TextBuffer; ++i) {
        if (TextBuffer[i] == '\0' || TextBuffer[i] == ';') break;
        folder += TextBuffer[i];
    }
    return folder + "\\";
}

std::string ResourceDll(const std::string& code) { return "idr2" + code + ".dll"; }
std::string BackupDll(const std::string& code) { return "idr2" + code + "_" + ".dll"; }
std::string RussianDll() { return ResourceDll(kRussianCode); }

std::string VersionDigits(const std::string& versionText) {
    std::string digits = kRussianCode;
    for (char c : versionText)
        if (c != '.' && digits.size() < kVersionDigitsBound) digits += c;
    return digits;
}

std::string PackageDll(const std::string& versionDigits) { return versionDigits + ".dll"; }

std::int32_t LanguageNumber(const std::string& code) { return StrToInt("$" + code); }

std::string LanguageName(const std::string& code) {
    // The language's default sub-language.
    const LCID locale = static_cast<LCID>(LanguageNumber(code)) + 0x400;
    const std::string name = LocaleLanguageName(locale);
    return name.empty() ? texts::kUnknownLanguage : name;
}

std::string UninstallString(const std::string& windowsFolder, const std::string& code) {
    return "\"" + windowsFolder + "\\" + kUninstallerFile + "\" " + code;
}

std::string SummaryCaption() { return AppTitle + texts::kSummaryCaptionTail; }

std::string ProgramFolder() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH + 1);
    const std::string file(path);
    const auto end = file.find_last_of("\\:");
    return end == std::string::npos ? std::string() : file.substr(0, end + 1);
}

bool ConfirmedTwice(const std::string& summary) {
    if (MessageBoxA(nullptr, summary.c_str(), SummaryCaption().c_str(),
                    MB_ICONQUESTION | MB_OKCANCEL) == IDCANCEL)
        return false;
    return MessageBoxA(nullptr, texts::kCloseBdePrograms, AppTitle.c_str(),
                       MB_ICONWARNING | MB_OKCANCEL) != IDCANCEL;
}

}  // namespace bde
