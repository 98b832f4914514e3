// Every text the kit shows, in one place. The source is UTF-8; the build
// compiles these literals to Windows-1251 bytes (-fexec-charset=CP1251).
#pragma once

namespace texts {

// Titles.
inline constexpr char kInstallerTitle[] = "Русификация BDE";
inline constexpr char kUninstallerTitle[] = "Удаление русификации BDE";
inline constexpr char kSummaryCaptionTail[] = " (версия 1.5)";

// Configuration.
inline constexpr char kBdeNotInstalled[] = "На этом компьютере Borland Database Engine не установлен.";
inline constexpr char kBdeNoLongerInstalled[] =
    "На этом компьютере Borland Database Engine уже не установлен.";
inline constexpr char kNoResource[] = "Не могу определить текущий язык BDE. Параметр RESOURCE.";
inline constexpr char kNoDllPath[] = "Не могу определить текущую папку BDE. Параметр DLLPATH.";

// The confirmation pair and the summaries.
inline constexpr char kCloseBdePrograms[] = "Необходимо закрыть все программы, использующие BDE!";
inline constexpr char kInstallSummaryHead[] =
    "Будут установлены русские ресурсы Borland Database Engine.\r\rТекущие параметры BDE:\r> Папка:\t ";
inline constexpr char kUninstallSummaryHead[] =
    "Будут удалены русские ресурсы Borland Database Engine.\r\rТекущие параметры BDE:\r> Папка:\t ";
inline constexpr char kLanguageLine[] = "\r> Язык:\t ";
inline constexpr char kResourcesLine[] = "\r> Ресурсы: ";
inline constexpr char kVersionOf[] = ", версия ";
inline constexpr char kNewResources[] = "\r\rНовые ресурсы: ";
inline constexpr char kRestoredSettings[] = "\r\rБудут установлены параметры BDE:\r> Язык:\t ";
inline constexpr char kContinue[] = "\r\rПродолжить?";
inline constexpr char kUnknownLanguage[] = "<unknown>";

// Results.
inline constexpr char kInstalled[] = "Русские ресурсы Borland Database Engine успешно установлены.";
inline constexpr char kRemoved[] = "Русские ресурсы Borland Database Engine успешно удалены.";

// Failures.
inline constexpr char kCannotCopyFile[] = "Не могу скопировать файл ";
inline constexpr char kCannotSetUpUninstaller[] = "Не могу настроить программу деинсталяции.";
inline constexpr char kLangCodeRequired[] = "Требуется параметр - код языка из четырех цифр.";
inline constexpr char kNoVersionInfo[] = "Нет информации о версии файла ";
inline constexpr char kCannotGetVersionInfo[] = "Не могу получить информацию о версии файла ";
inline constexpr char kErrorSeparator[] = "\r\rОшибка:\r";
// Shown when the system has no text for an error code.
inline constexpr char kErrorCode[] = "Код ошибки ";

// The runtime's report of an unhandled error (the runtime's own English texts).
inline constexpr char kApplicationErrorCaption[] = "Application Error";
inline constexpr char kApplicationErrorFormat[] = "Exception %s in module %s at %08X.\n%s%s";
inline constexpr char kConvertErrorClass[] = "EConvertError";
inline constexpr char kOutOfMemoryClass[] = "EOutOfMemory";
inline constexpr char kInvalidIntegerFormat[] = "'%s' is not a valid integer value";
inline constexpr char kOutOfMemory[] = "Out of memory";

}  // namespace texts
