// The simulated Windows machine: a directory named by WINSIM_MACHINE.
// Internal to kit/winsim; the kit sees only kit/winapi.h.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "winapi.h"

namespace winsim {

// The machine's directory; the process ends with a message on stderr when
// WINSIM_MACHINE is not set.
const std::filesystem::path& MachineDir();

// Forgets everything loaded from the machine (registry, lists, counters), so
// that the next service call reads WINSIM_MACHINE afresh. For tests.
void ReloadMachine();

// The one place every service call passes through: true when the machine's
// "failures" file makes this call of the service fail; code is then the
// error code to report.
bool InjectedFailure(const char* service, win::DWORD& code);

// The calling thread's last-error code, as GetLastError reads it.
void SetLastErrorCode(win::DWORD code);
win::DWORD LastErrorCode();

// A Windows path (Windows-1251) as a host path: drive_c/ for C:, host / for
// Z:, names matched without regard to case, "\" and "/" both separators,
// relative paths against the current directory. Components that don't exist
// keep the spelling given. Empty when the path can't be mapped (unknown drive).
std::filesystem::path HostPath(const std::string& windowsPath);
// A host path as a Windows path (Windows-1251): inside the machine's drives it
// is on that drive, elsewhere on Z:.
std::string WindowsPath(const std::filesystem::path& hostPath);

// True when the machine lists the file as held open by another program.
bool HeldOpen(const std::filesystem::path& hostPath);

// The system language (Default of ...\Control\Nls\Language, 0419 when
// absent) and what follows from it.
win::LCID SystemLanguage();
bool RussianSystem();        // system texts in Russian, else in English
unsigned AnsiCodePage();     // 1251 on a Russian system, 1252 otherwise

// The Windows folder: SystemRoot of ...\Windows NT\CurrentVersion, else C:\WINDOWS.
std::string WindowsFolder();

// Reads a registry value without going through the services (no failure
// injection, no access checks). Used by the simulation itself.
std::optional<std::string> RegistryText(const std::string& keyPath, const std::string& valueName);

}  // namespace winsim

namespace winsim {

// Counts ReloadMachine calls, so that caches kept elsewhere know when to drop.
unsigned MachineGeneration();

// A name folded for comparison without regard to case (ASCII, Latin-1 and
// Cyrillic letters), as Windows compares file, key and value names.
std::u16string FoldedName(const std::u16string& name);
bool SameName1251(const std::string& a, const std::string& b);

// The command line Windows would see for these arguments: each quoted the way
// CommandLineToArgvW reads it back, joined by one space.
std::string CommandLineFromArguments(const std::vector<std::string>& arguments);

}  // namespace winsim
