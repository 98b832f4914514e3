#include "runtime.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "texts.h"

using namespace win;

namespace {

std::vector<ExitProc>& ExitProcs() {
    static std::vector<ExitProc> procs;
    return procs;
}

struct Locale {
    LCID id;
    std::string name;
};

std::vector<Locale>* localeList = nullptr;
std::vector<Locale>* localesBeingListed = nullptr;

std::string LocaleInfo(LCID locale, LCTYPE type) {
    char buffer[1024] = {};
    if (GetLocaleInfoA(locale, type, buffer, sizeof buffer) == 0) return {};
    return std::string(buffer);
}

BOOL ListLocale(LPSTR idText) {
    const LCID id = static_cast<LCID>(std::strtoul(idText, nullptr, 16));
    if (!LocaleInfo(id, LOCALE_SABBREVLANGNAME).empty())
        localesBeingListed->push_back({id, LocaleInfo(id, LOCALE_SLANGUAGE)});
    return 1;
}

const std::vector<Locale>& Locales() {
    if (localeList == nullptr) {
        localesBeingListed = new std::vector<Locale>;
        EnumSystemLocalesA(ListLocale, LCID_SUPPORTED);
        localeList = std::exchange(localesBeingListed, nullptr);
    }
    return *localeList;
}

void ReleaseLocales() {
    delete localeList;
    localeList = nullptr;
}

// The program's file name without its folder.
std::string ModuleName() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH + 1);
    std::string name(path);
    const auto slash = name.find_last_of("\\:");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string InvalidIntegerMessage(const std::string& text) {
    char message[300];
    std::snprintf(message, sizeof message, texts::kInvalidIntegerFormat, text.c_str());
    return message;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::int32_t StrToInt(const std::string& text) {
    bool valid = text.size() > 1 && text[0] == '$';
    std::uint64_t value = 0;
    for (std::size_t i = 1; valid && i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        value = value * 16 + static_cast<std::uint64_t>(digit);
        valid = digit >= 0 && value <= 0xFFFFFFFFu;
    }
    if (!valid)
        ReportUnhandledError(texts::kConvertErrorClass, InvalidIntegerMessage(text),
                             __builtin_extract_return_addr(__builtin_return_address(0)));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

namespace {

// Memory that the texts of the run can't have is the same unhandled error as
// a block that GetMem can't have.
[[noreturn]] void ReportNoMemoryForNew() {
    ReportUnhandledError(texts::kOutOfMemoryClass, texts::kOutOfMemory,
                         __builtin_extract_return_addr(__builtin_return_address(0)));
}

const bool newHandlerInstalled = (std::set_new_handler(ReportNoMemoryForNew), true);

}  // namespace

void* GetMem(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        ReportUnhandledError(texts::kOutOfMemoryClass, texts::kOutOfMemory,
                             __builtin_extract_return_addr(__builtin_return_address(0)));
    return block;
}

void FreeMem(void* block) { std::free(block); }

std::string LocaleLanguageName(LCID locale) {
    for (const Locale& listed : Locales())
        if (listed.id == locale) return listed.name;
    return {};
}

void AddExitProc(ExitProc proc) { ExitProcs().push_back(proc); }

void Halt(UINT exitCode) {
    auto& procs = ExitProcs();
    while (!procs.empty()) {
        const ExitProc proc = procs.back();
        procs.pop_back();
        proc();
    }
    ReleaseLocales();
    ExitProcess(exitCode);
}

void ReportUnhandledError(const char* className, const std::string& message, const void* address) {
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    const auto offset =
        static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address) - base);
    const bool addDot = !message.empty() && message.back() != '.';
    const std::string module = ModuleName();
    char text[1024];
    std::snprintf(text, sizeof text, texts::kApplicationErrorFormat, className, module.c_str(),
                  offset, message.c_str(), addDot ? "." : "");
    MessageBoxA(nullptr, text, texts::kApplicationErrorCaption,
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
    Halt(1);
}
