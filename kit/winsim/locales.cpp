// The locales the simulated system supports: those of Windows XP SP3, named
// as its Russian or English edition names them.
#include <cstdio>
#include <cstring>
#include <string>

#include "codepage.h"
#include "machine.h"
#include "winapi.h"

namespace {

constexpr win::DWORD kInvalidFlags = 1004;  // ERROR_INVALID_FLAGS
constexpr win::LCTYPE kTypeFlags = 0xC0000000;  // LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP
constexpr win::LCID kNeutral = 0x0000;
constexpr win::LCID kUserDefault = 0x0400;
constexpr win::LCID kSystemDefault = 0x0800;

struct Locale {
    win::LCID id;
    const char* abbreviation;
    const char* english;
    const char* russian;  // UTF-8 here; the caller gets Windows-1251
};

// In enumeration order. Every 0x04NN here existed in XP SP3; later ones
// (Tajik 0x428, Upper Sorbian 0x42E, Oriya 0x448, Yakut 0x485...) must not appear.
constexpr Locale kLocales[] = {
    {0x0401, "ARA", "Arabic (Saudi Arabia)", "Арабский (Саудовская Аравия)"},
    {0x0402, "BGR", "Bulgarian", "Болгарский"},
    {0x0403, "CAT", "Catalan", "Каталанский"},
    {0x0404, "CHT", "Chinese (Taiwan)", "Китайский (Тайвань)"},
    {0x0405, "CSY", "Czech", "Чешский"},
    {0x0406, "DAN", "Danish", "Датский"},
    {0x0407, "DEU", "German (Germany)", "Немецкий (Германия)"},
    {0x0408, "ELL", "Greek", "Греческий"},
    {0x0409, "ENU", "English (United States)", "Английский (США)"},
    {0x040A, "ESP", "Spanish (Traditional Sort)", "Испанский (традиционная сортировка)"},
    {0x040B, "FIN", "Finnish", "Финский"},
    {0x040C, "FRA", "French (France)", "Французский (Франция)"},
    {0x040D, "HEB", "Hebrew", "Иврит"},
    {0x040E, "HUN", "Hungarian", "Венгерский"},
    {0x040F, "ISL", "Icelandic", "Исландский"},
    {0x0410, "ITA", "Italian (Italy)", "Итальянский (Италия)"},
    {0x0411, "JPN", "Japanese", "Японский"},
    {0x0412, "KOR", "Korean", "Корейский"},
    {0x0413, "NLD", "Dutch (Netherlands)", "Голландский (Нидерланды)"},
    {0x0414, "NOR", "Norwegian (Bokmål)", "Норвежский (букмол)"},
    {0x0415, "PLK", "Polish", "Польский"},
    {0x0416, "PTB", "Portuguese (Brazil)", "Португальский (Бразилия)"},
    {0x0417, "RMC", "Romansh (Switzerland)", "Ретороманский (Швейцария)"},
    {0x0418, "ROM", "Romanian", "Румынский"},
    {0x0419, "RUS", "Russian", "Русский"},
    {0x041A, "HRV", "Croatian", "Хорватский"},
    {0x041B, "SKY", "Slovak", "Словацкий"},
    {0x041C, "SQI", "Albanian", "Албанский"},
    {0x041D, "SVE", "Swedish", "Шведский"},
    {0x041E, "THA", "Thai", "Тайский"},
    {0x041F, "TRK", "Turkish", "Турецкий"},
    {0x0420, "URD", "Urdu", "Урду"},
    {0x0421, "IND", "Indonesian", "Индонезийский"},
    {0x0422, "UKR", "Ukrainian", "Украинский"},
    {0x0423, "BEL", "Belarusian", "Белорусский"},
    {0x0424, "SLV", "Slovenian", "Словенский"},
    {0x0425, "ETI", "Estonian", "Эстонский"},
    {0x0426, "LVI", "Latvian", "Латышский"},
    {0x0427, "LTH", "Lithuanian", "Литовский"},
    {0x0429, "FAR", "Farsi", "Фарси"},
    {0x042A, "VIT", "Vietnamese", "Вьетнамский"},
    {0x042B, "HYE", "Armenian", "Армянский"},
    {0x042C, "AZE", "Azeri (Latin)", "Азербайджанский (латиница)"},
    {0x042D, "EUQ", "Basque", "Баскский"},
    {0x042F, "MKI", "FYRO Macedonian", "Македонский (БЮРМ)"},
    {0x0432, "TSN", "Setswana (South Africa)", "Тсвана (Южная Африка)"},
    {0x0434, "XHO", "isiXhosa (South Africa)", "Коса (Южная Африка)"},
    {0x0435, "ZUL", "isiZulu (South Africa)", "Зулу (Южная Африка)"},
    {0x0436, "AFK", "Afrikaans", "Африкаанс"},
    {0x0437, "KAT", "Georgian", "Грузинский"},
    {0x0438, "FOS", "Faroese", "Фарерский"},
    {0x0439, "HIN", "Hindi", "Хинди"},
    {0x043A, "MLT", "Maltese (Malta)", "Мальтийский (Мальта)"},
    {0x043B, "SME", "Sami, Northern (Norway)", "Саамский, северный (Норвегия)"},
    {0x043E, "MSL", "Malay (Malaysia)", "Малайский (Малайзия)"},
    {0x043F, "KKZ", "Kazakh", "Казахский"},
    {0x0440, "KYR", "Kyrgyz", "Киргизский"},
    {0x0441, "SWK", "Swahili", "Суахили"},
    {0x0443, "UZB", "Uzbek (Latin)", "Узбекский (латиница)"},
    {0x0444, "TTT", "Tatar", "Татарский"},
    {0x0445, "BNG", "Bengali (India)", "Бенгальский (Индия)"},
    {0x0446, "PAN", "Punjabi", "Панджаби"},
    {0x0447, "GUJ", "Gujarati", "Гуджарати"},
    {0x0449, "TAM", "Tamil", "Тамильский"},
    {0x044A, "TEL", "Telugu", "Телугу"},
    {0x044B, "KAN", "Kannada", "Каннада"},
    {0x044C, "MYM", "Malayalam (India)", "Малаялам (Индия)"},
    {0x044E, "MAR", "Marathi", "Маратхи"},
    {0x044F, "SAN", "Sanskrit", "Санскрит"},
    {0x0450, "MON", "Mongolian", "Монгольский"},
    {0x0452, "CYM", "Welsh (United Kingdom)", "Валлийский (Великобритания)"},
    {0x0456, "GLC", "Galician", "Галисийский"},
    {0x0457, "KNK", "Konkani", "Конкани"},
    {0x045A, "SYR", "Syriac", "Сирийский"},
    {0x0461, "NEP", "Nepali (Nepal)", "Непальский (Непал)"},
    {0x0462, "FYN", "Frisian (Netherlands)", "Фризский (Нидерланды)"},
    {0x0463, "PAS", "Pashto (Afghanistan)", "Пушту (Афганистан)"},
    {0x0464, "FPO", "Filipino (Philippines)", "Филиппинский (Филиппины)"},
    {0x0465, "DIV", "Divehi", "Дивехи"},
    {0x046B, "QUB", "Quechua (Bolivia)", "Кечуа (Боливия)"},
    {0x046C, "NSO", "Sesotho sa Leboa (South Africa)", "Северный сото (Южная Африка)"},
    {0x046E, "LBX", "Luxembourgish (Luxembourg)", "Люксембургский (Люксембург)"},
    {0x047A, "MPD", "Mapudungun (Chile)", "Мапудунгун (Чили)"},
    {0x047C, "MWK", "Mohawk (Canada)", "Мохаук (Канада)"},
    {0x0481, "MRI", "Maori (New Zealand)", "Маори (Новая Зеландия)"},
    {0x0804, "CHS", "Chinese (PRC)", "Китайский (КНР)"},
    {0x0807, "DES", "German (Switzerland)", "Немецкий (Швейцария)"},
    {0x0809, "ENG", "English (United Kingdom)", "Английский (Великобритания)"},
    {0x080C, "FRB", "French (Belgium)", "Французский (Бельгия)"},
    {0x0816, "PTG", "Portuguese (Portugal)", "Португальский (Португалия)"},
    {0x081A, "SRL", "Serbian (Latin)", "Сербский (латиница)"},
    {0x082C, "AZE", "Azeri (Cyrillic)", "Азербайджанский (кириллица)"},
    {0x0843, "UZB", "Uzbek (Cyrillic)", "Узбекский (кириллица)"},
    {0x0C07, "DEA", "German (Austria)", "Немецкий (Австрия)"},
    {0x0C0A, "ESN", "Spanish (International Sort)", "Испанский (современная сортировка)"},
    {0x0C1A, "SRB", "Serbian (Cyrillic)", "Сербский (кириллица)"},
};

const Locale* FindLocale(win::LCID id) {
    if (id == kNeutral || id == kUserDefault || id == kSystemDefault) {
        id = winsim::SystemLanguage();
    }
    for (const Locale& locale : kLocales) {
        if (locale.id == id) return &locale;
    }
    return nullptr;
}

// The value of LOCALE_SLANGUAGE or LOCALE_SABBREVLANGNAME, in Windows-1251.
std::string LocaleText(const Locale& locale, win::LCTYPE type) {
    if (type == win::LOCALE_SABBREVLANGNAME) return locale.abbreviation;
    return winsim::Utf8ToCp1251(winsim::RussianSystem() ? locale.russian : locale.english);
}

}  // namespace

namespace win {

BOOL EnumSystemLocalesA(LOCALE_ENUMPROCA enumProc, DWORD flags) {
    DWORD code = 0;
    if (winsim::InjectedFailure("EnumSystemLocalesA", code)) {
        winsim::SetLastErrorCode(code);
        return 0;
    }
    if (enumProc == nullptr) {
        winsim::SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (flags != LCID_SUPPORTED) {
        winsim::SetLastErrorCode(kInvalidFlags);
        return 0;
    }
    for (const Locale& locale : kLocales) {
        char name[9];
        std::snprintf(name, sizeof name, "%08X", static_cast<unsigned>(locale.id));
        if (!enumProc(name)) break;
    }
    return 1;
}

int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) {
    DWORD code = 0;
    if (winsim::InjectedFailure("GetLocaleInfoA", code)) {
        winsim::SetLastErrorCode(code);
        return 0;
    }
    if (size < 0 || (size > 0 && data == nullptr)) {
        winsim::SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Locale* found = FindLocale(locale);
    if (found == nullptr) {
        winsim::SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    type &= ~kTypeFlags;
    if (type != LOCALE_SLANGUAGE && type != LOCALE_SABBREVLANGNAME) {
        winsim::SetLastErrorCode(kInvalidFlags);
        return 0;
    }
    const std::string text = LocaleText(*found, type);
    const int needed = static_cast<int>(text.size()) + 1;
    if (size == 0) return needed;
    if (size < needed) {
        winsim::SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(data, text.c_str(), static_cast<size_t>(needed));
    return needed;
}

}  // namespace win
