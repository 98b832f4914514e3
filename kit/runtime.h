// The runtime under the kit: integer conversion, memory, the system's locale
// list, the report of an unhandled error and the orderly end of the process.
// The kit's own code raises nothing; the two errors below are the runtime's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "winapi.h"

// Converts "$" followed by one or more hexadecimal digits (either case).
// Any other text ends the run with the unhandled-error report (EConvertError).
std::int32_t StrToInt(const std::string& text);

// A block from the memory manager; memory that can't be had ends the run
// with the unhandled-error report (EOutOfMemory).
void* GetMem(std::size_t size);
void FreeMem(void* block);

// The system's full name of a supported locale, in the system's language;
// empty when the system doesn't list the locale or names it with nothing.
// The list is built on first use.
std::string LocaleLanguageName(win::LCID locale);

// End-of-run steps run in the reverse order of their registration, then the
// runtime releases its own data and the process exits with the code.
using ExitProc = void (*)();
void AddExitProc(ExitProc proc);
[[noreturn]] void Halt(win::UINT exitCode);

// The report of an unhandled error: one "Application Error" box, exit code 1.
[[noreturn]] void ReportUnhandledError(const char* className, const std::string& message,
                                       const void* address);
