// The simulated system's message texts and locale names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "machine.h"
#include "test_machine.h"
#include "winapi.h"

using namespace win;

namespace {

constexpr DWORD kIgnoreInserts = 0x0200;
constexpr DWORD kFromString = 0x0400;
constexpr DWORD kAllocateBuffer = 0x0100;

class SystemTexts : public ::testing::Test {
protected:
    TestMachine machine_;
};

// What FormatMessageA gives the kit: the text, or the error with the
// buffer as it was left.
struct Formatted {
    DWORD length;
    DWORD error;
    std::string text;
};

Formatted Format(DWORD code, DWORD size = 512, DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM) {
    std::vector<char> buffer(std::max<DWORD>(size, 1) + 1, 'Z');
    buffer.back() = '\0';
    SetLastError(0);
    DWORD length = FormatMessageA(flags, nullptr, code, 0, buffer.data(), size, nullptr);
    return {length, GetLastError(), std::string(buffer.data())};
}

// ----- Messages -----

struct MessageCase {
    const char* language;
    DWORD code;
    const char* expected;
};

TEST_F(SystemTexts, MessageComesInTheSystemsLanguageAndEndsWithCrLf) {
    const MessageCase cases[] = {
        {"0419", ERROR_FILE_NOT_FOUND, "Не удается найти указанный файл.\r\n"},
        {"0409", ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {"0419", ERROR_ACCESS_DENIED, "Отказано в доступе.\r\n"},
        {"0409", ERROR_SHARING_VIOLATION,
         "The process cannot access the file because it is being used by another process.\r\n"},
        {"0419", ERROR_RESOURCE_NAME_NOT_FOUND,
         "Не удается найти указанное имя ресурса в файле образа.\r\n"},
        // Any system that isn't Russian speaks English.
        {"0407", ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(std::string(c.language) + " code " + std::to_string(c.code));
        machine_.SetSystemLanguage(c.language);
        Formatted result = Format(c.code);
        EXPECT_EQ(result.text, c.expected);
        EXPECT_EQ(result.length, std::strlen(c.expected));
    }
}

TEST_F(SystemTexts, EveryCodeTheKitMeetsHasATextInBothLanguages) {
    const DWORD codes[] = {0,   1,   2,   3,   5,    6,    8,    11,   14,   18,   32,
                           80,  87,  122, 123, 183,  193,  234,  317,  1009, 1010, 1011,
                           1012, 1013, 1014, 1015, 1016, 1017, 1018, 1812, 1813, 1814, 1815};
    for (DWORD code : codes) {
        SCOPED_TRACE("code " + std::to_string(code));
        machine_.SetSystemLanguage("0409");
        Formatted english = Format(code, 512, FORMAT_MESSAGE_FROM_SYSTEM | kIgnoreInserts);
        machine_.SetSystemLanguage("0419");
        Formatted russian = Format(code, 512, FORMAT_MESSAGE_FROM_SYSTEM | kIgnoreInserts);
        for (const Formatted* f : {&english, &russian}) {
            ASSERT_GT(f->length, 2u);
            EXPECT_EQ(f->length, f->text.size());
            EXPECT_EQ(f->text.substr(f->text.size() - 2), "\r\n");
            EXPECT_EQ(f->text.find('?'), std::string::npos) << f->text;  // nothing lost to 1251
        }
        EXPECT_NE(english.text, russian.text);
        // The Russian text really is Cyrillic in Windows-1251.
        EXPECT_NE(russian.text.find_first_of("оеаинтсрОЕАИНТСР"), std::string::npos);
    }
}

TEST_F(SystemTexts, UnknownCodeFailsWith317AndLeavesTheBufferAlone) {
    for (DWORD code : {4u, 999u, 0x20000002u}) {
        Formatted result = Format(code);
        EXPECT_EQ(result.length, 0u);
        EXPECT_EQ(result.error, ERROR_MR_MID_NOT_FOUND);
        EXPECT_EQ(result.text, std::string(512, 'Z'));
    }
}

TEST_F(SystemTexts, TextThatDoesNotFitFailsWith122) {
    machine_.SetSystemLanguage("0419");
    const std::string text = "Не удается найти указанный файл.\r\n";
    const DWORD needed = static_cast<DWORD>(text.size()) + 1;  // with the NUL

    Formatted tooSmall = Format(ERROR_FILE_NOT_FOUND, needed - 1);
    EXPECT_EQ(tooSmall.length, 0u);
    EXPECT_EQ(tooSmall.error, ERROR_INSUFFICIENT_BUFFER);

    Formatted exact = Format(ERROR_FILE_NOT_FOUND, needed);
    EXPECT_EQ(exact.length, text.size());
    EXPECT_EQ(exact.text, text);
}

TEST_F(SystemTexts, InsertsWithoutArgumentsAreRefused) {
    machine_.SetSystemLanguage("0409");
    Formatted refused = Format(ERROR_BAD_EXE_FORMAT);
    EXPECT_EQ(refused.length, 0u);
    EXPECT_EQ(refused.error, ERROR_INVALID_PARAMETER);

    Formatted raw = Format(ERROR_BAD_EXE_FORMAT, 512, FORMAT_MESSAGE_FROM_SYSTEM | kIgnoreInserts);
    EXPECT_EQ(raw.text, "%1 is not a valid Win32 application.\r\n");
}

TEST_F(SystemTexts, OtherSourcesAndFlagsAreRefused) {
    for (DWORD flags : {kFromString, FORMAT_MESSAGE_FROM_SYSTEM | kAllocateBuffer, DWORD{0}}) {
        Formatted result = Format(ERROR_FILE_NOT_FOUND, 512, flags);
        EXPECT_EQ(result.length, 0u) << flags;
        EXPECT_EQ(result.error, ERROR_INVALID_PARAMETER) << flags;
    }
}

// ----- Locales -----

std::vector<std::string> enumerated;
size_t stopAfter = SIZE_MAX;

BOOL CollectLocale(LPSTR name) {
    enumerated.emplace_back(name);
    return enumerated.size() < stopAfter;
}

std::vector<std::string> EnumerateLocales() {
    enumerated.clear();
    stopAfter = SIZE_MAX;
    EXPECT_TRUE(EnumSystemLocalesA(CollectLocale, LCID_SUPPORTED));
    return enumerated;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::string LocaleInfo(LCID locale, LCTYPE type) {
    char buffer[128];
    std::memset(buffer, 'Z', sizeof buffer);
    int length = GetLocaleInfoA(locale, type, buffer, sizeof buffer);
    if (length == 0) return "<failed " + std::to_string(GetLastError()) + ">";
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer) + 1);
    return buffer;
}

TEST_F(SystemTexts, EnumerationListsXpLocalesAsEightHexDigits) {
    std::vector<std::string> locales = EnumerateLocales();
    for (const char* present : {"00000419", "00000409", "00000407", "0000040A", "0000042C",
                                "00000481", "00000809", "00000C0A"}) {
        EXPECT_TRUE(Contains(locales, present)) << present;
    }
    // Locales that came after XP.
    for (const char* absent : {"00000428", "0000042E", "00000448", "00000485", "0000045E",
                               "00000419 ", "419"}) {
        EXPECT_FALSE(Contains(locales, absent)) << absent;
    }
    for (const std::string& name : locales) {
        EXPECT_EQ(name.size(), 8u) << name;
        EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF"), std::string::npos) << name;
        EXPECT_EQ(std::count(locales.begin(), locales.end(), name), 1) << name;
    }
}

TEST_F(SystemTexts, EnumerationStopsWhenTheCallbackSaysSo) {
    enumerated.clear();
    stopAfter = 3;
    EXPECT_TRUE(EnumSystemLocalesA(CollectLocale, LCID_SUPPORTED));
    EXPECT_EQ(enumerated.size(), 3u);

    SetLastError(0);
    EXPECT_FALSE(EnumSystemLocalesA(nullptr, LCID_SUPPORTED));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

struct NameCase {
    LCID locale;
    const char* english;
    const char* russian;  // Windows-1251, as the test is compiled
    const char* abbreviation;
};

TEST_F(SystemTexts, LocaleNamesFollowTheSystemsLanguage) {
    const NameCase cases[] = {
        {0x0409, "English (United States)", "Английский (США)", "ENU"},
        {0x0419, "Russian", "Русский", "RUS"},
        {0x0407, "German (Germany)", "Немецкий (Германия)", "DEU"},
        {0x040A, "Spanish (Traditional Sort)", "Испанский (традиционная сортировка)", "ESP"},
        {0x042C, "Azeri (Latin)", "Азербайджанский (латиница)", "AZE"},
        {0x0C0A, "Spanish (International Sort)", "Испанский (современная сортировка)", "ESN"},
        // 1251 has no "å": Windows shows what it can't convert as '?'.
        {0x0414, "Norwegian (Bokm?l)", "Норвежский (букмол)", "NOR"},
    };
    for (const char* language : {"0409", "0419"}) {
        machine_.SetSystemLanguage(language);
        const bool russian = std::string(language) == "0419";
        for (const NameCase& c : cases) {
            SCOPED_TRACE(std::string(language) + " locale " + std::to_string(c.locale));
            EXPECT_EQ(LocaleInfo(c.locale, LOCALE_SLANGUAGE), russian ? c.russian : c.english);
            EXPECT_EQ(LocaleInfo(c.locale, LOCALE_SABBREVLANGNAME), c.abbreviation);
        }
    }
}

TEST_F(SystemTexts, EveryEnumeratedLocaleHasNamesInBothLanguages) {
    std::vector<std::string> locales = EnumerateLocales();
    for (const char* language : {"0409", "0419"}) {
        machine_.SetSystemLanguage(language);
        for (const std::string& name : locales) {
            LCID locale = static_cast<LCID>(std::stoul(name, nullptr, 16));
            std::string full = LocaleInfo(locale, LOCALE_SLANGUAGE);
            std::string abbreviation = LocaleInfo(locale, LOCALE_SABBREVLANGNAME);
            EXPECT_FALSE(full.empty()) << name;
            EXPECT_EQ(full.find('<'), std::string::npos) << name << ' ' << full;
            EXPECT_EQ(abbreviation.size(), 3u) << name << ' ' << abbreviation;
            EXPECT_EQ(abbreviation.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
                      std::string::npos) << name;
        }
    }
}

TEST_F(SystemTexts, LocaleInfoBufferSizesAndErrors) {
    machine_.SetSystemLanguage("0419");
    const int needed = static_cast<int>(std::strlen("Русский")) + 1;
    char buffer[64];

    EXPECT_EQ(GetLocaleInfoA(0x0419, LOCALE_SLANGUAGE, nullptr, 0), needed);
    EXPECT_EQ(GetLocaleInfoA(0x0419, LOCALE_SLANGUAGE, buffer, needed), needed);
    EXPECT_STREQ(buffer, "Русский");

    struct ErrorCase {
        LCID locale;
        LCTYPE type;
        int size;
        DWORD error;
    };
    const ErrorCase errors[] = {
        {0x0419, LOCALE_SLANGUAGE, needed - 1, ERROR_INSUFFICIENT_BUFFER},
        {0x0428, LOCALE_SLANGUAGE, 64, ERROR_INVALID_PARAMETER},  // Tajik: not in XP
        {0x12345, LOCALE_SLANGUAGE, 64, ERROR_INVALID_PARAMETER},
        {0x0419, LOCALE_SLANGUAGE, -1, ERROR_INVALID_PARAMETER},
    };
    for (const ErrorCase& e : errors) {
        SCOPED_TRACE(std::to_string(e.locale) + " size " + std::to_string(e.size));
        SetLastError(0);
        EXPECT_EQ(GetLocaleInfoA(e.locale, e.type, buffer, e.size), 0);
        EXPECT_EQ(GetLastError(), e.error);
    }
}

TEST_F(SystemTexts, DefaultLocaleIsTheSystemLanguage) {
    machine_.SetSystemLanguage("0407");
    EXPECT_EQ(LocaleInfo(0x0800, LOCALE_SABBREVLANGNAME), "DEU");
    EXPECT_EQ(LocaleInfo(0x0400, LOCALE_SLANGUAGE), "German (Germany)");
}

// ----- Failures the machine plans -----

TEST_F(SystemTexts, PlannedFailuresComeFirst) {
    machine_.Write("failures",
                   "FormatMessageA 8\nEnumSystemLocalesA 14\nGetLocaleInfoA 1\n");
    char buffer[64] = "untouched";

    SetLastError(0);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, buffer, 64, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);

    enumerated.clear();
    stopAfter = SIZE_MAX;
    EXPECT_FALSE(EnumSystemLocalesA(CollectLocale, LCID_SUPPORTED));
    EXPECT_EQ(GetLastError(), ERROR_OUTOFMEMORY);
    EXPECT_TRUE(enumerated.empty());

    EXPECT_EQ(GetLocaleInfoA(0x0419, LOCALE_SLANGUAGE, buffer, 64), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_STREQ(buffer, "untouched");
}

}  // namespace
