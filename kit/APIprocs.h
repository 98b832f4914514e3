// The unit both programs share: the run's state and the shared routines.
#pragma once

#include <cstdint>
#include <string>

#include "winapi.h"

extern std::string AppTitle;
extern std::string VersionText;
extern std::string BdeFolder;
extern char TextBuffer[256];
extern win::DWORD TextSize;
extern win::HKEY BdeKey;

// The text in TextBuffer up to its first zero byte.
std::string BufferText();

// One error box with caption AppTitle, then exit code 1. An empty message
// shows the system's text for the last error alone; with withSystemText the
// message is followed by that text.
[[noreturn]] void FatalError(const std::string& message, bool withSystemText);

// The FileVersion text of a file's version resource; language is the number
// of a language code (9 for 0009). In strict mode every failure to read it is
// fatal; otherwise a file without version information gives "".
std::string GetFileVersionStr(const std::string& fileName, std::int32_t language, bool strict);
