// How the kit finds and changes a BDE, and how it names its files: the
// ground both programs agree on.
#pragma once

#include <cstddef>
#include <string>

#include "winapi.h"

namespace bde {

inline constexpr char kConfigKey[] = "Software\\Borland\\Database Engine";
inline constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kRecordName[] = "Velkor";
inline constexpr char kRecordKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velkor";
inline constexpr char kResourceValue[] = "RESOURCE";
inline constexpr char kDllPathValue[] = "DLLPATH";
inline constexpr char kDisplayNameValue[] = "DisplayName";
inline constexpr char kUninstallStringValue[] = "UninstallString";

// Every key the kit opens or creates is opened with the rights to change it.
inline constexpr win::REGSAM kKeyAccess = win::KEY_QUERY_VALUE | win::KEY_SET_VALUE |
                                          win::KEY_CREATE_SUB_KEY | win::KEY_ENUMERATE_SUB_KEYS |
                                          win::KEY_NOTIFY | win::WRITE_DAC;
static_assert(kKeyAccess == 0x4001F);

inline constexpr win::DWORD kResourceReadLimit = 5;
inline constexpr win::DWORD kDllPathReadLimit = 128;

inline constexpr char kRussianCode[] = "0019";
inline constexpr std::size_t kLangCodeBound = 4;
inline constexpr std::size_t kVersionDigitsBound = 20;
inline constexpr std::size_t kInstallerNameBound = 20;
inline constexpr std::size_t kUninstallerNameBound = 12;

inline constexpr char kCompanionFiles[2][13] = {"bdeadmin.rus", "datapump.rus"};
inline constexpr char kUninstallerFile[] = "unvelkor.exe";

// The text cut to the bound; what goes beyond it is dropped without notice.
std::string Bounded(const std::string& text, std::size_t bound);
// a to z become A to Z; every other byte stays.
std::string UpperAscii(const std::string& text);

// Opens the configuration key into BdeKey; false when it can't be opened.
bool OpenConfigKey();
// Reads a value of BdeKey into TextBuffer, offering limit bytes (TextSize
// holds the bytes stored); false when it can't be read.
bool ReadConfigValue(const char* name, win::DWORD limit);
// A registry call's status as success. Registry calls report failure by their
// status alone; it becomes the last-error code, so that an error box that
// follows describes this failure rather than an older one.
bool Succeeded(win::LSTATUS status);
// Writes a REG_SZ value: the text and its terminating zero.
bool SetText(win::HKEY key, const char* name, const std::string& text);
// The language code held in TextBuffer: up to the first zero, 4 characters.
std::string LangCodeFromBuffer();
// The BDE folder from the DLLPATH data in TextBuffer: the first entry and "\".
std::string FolderFromBuffer();

std::string ResourceDll(const std::string& code);
std::string BackupDll(const std::string& code);
std::string RussianDll();
std::string VersionDigits(const std::string& versionText);
std::string PackageDll(const std::string& versionDigits);

// The number of a code read as hexadecimal: 9 for 0009. A code that isn't a
// hexadecimal number ends the run with the runtime's conversion report.
std::int32_t LanguageNumber(const std::string& code);
// The system's name for the code's language, or "<unknown>".
std::string LanguageName(const std::string& code);

std::string UninstallString(const std::string& windowsFolder, const std::string& code);
std::string SummaryCaption();

// The running program's folder, up to and including its last "\" or ":".
std::string ProgramFolder();

// The summary box and then the warning box; false when either is cancelled.
bool ConfirmedTwice(const std::string& summary);

}  // namespace bde
