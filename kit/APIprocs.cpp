#include "APIprocs.h"

#include <algorithm>
#include <cstring>

#include "runtime.h"
#include "texts.h"

using namespace win;

std::string AppTitle;
std::string VersionText;
std::string BdeFolder;
char TextBuffer[256];
DWORD TextSize;
HKEY BdeKey;

namespace {

void ReleaseTexts() {
    AppTitle = std::string();
    VersionText = std::string();
    BdeFolder = std::string();
}

// The unit's end-of-run step joins the runtime's at start.
const bool registered = (AddExitProc(ReleaseTexts), true);

// When the system has no text for the code, the buffer says which code it was
// rather than showing whatever it held before.
void SystemTextToBuffer(DWORD code) {
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, TextBuffer,
                       sizeof TextBuffer, nullptr) == 0) {
        const std::string text = texts::kErrorCode + std::to_string(code) + ".";
        text.copy(TextBuffer, sizeof TextBuffer - 1);
        TextBuffer[std::min(text.size(), sizeof TextBuffer - 1)] = '\0';
    }
}

}  // namespace

std::string BufferText() {
    return std::string(TextBuffer, strnlen(TextBuffer, sizeof TextBuffer));
}

void FatalError(const std::string& message, bool withSystemText) {
    std::string text = message;
    if (message.empty() || withSystemText) {
        const DWORD code = GetLastError();
        SystemTextToBuffer(code);
        text = message.empty() ? BufferText() : message + texts::kErrorSeparator + BufferText();
    }
    MessageBoxA(nullptr, text.c_str(), AppTitle.c_str(), MB_ICONERROR);
    Halt(1);
}
