// Code page conversions: the upper halves of Windows-1251 and -1252 come from
// glibc's iconv once; everything else is plain UTF-8/UTF-16 arithmetic.
#include "codepage.h"

#include <iconv.h>

#include <array>
#include <unordered_map>

namespace winsim {
namespace {

struct CodePageTable {
    std::array<char16_t, 256> toUnicode{};
    std::unordered_map<char16_t, unsigned char> fromUnicode;
};

// A byte the code page leaves undefined maps to the C1 control of the same
// value, as MultiByteToWideChar does.
char16_t ByteToUnicode(iconv_t converter, unsigned char byte) {
    if (byte < 0x80 || converter == reinterpret_cast<iconv_t>(-1)) return byte;
    char in[1] = {static_cast<char>(byte)};
    char out[4] = {};
    char* inPtr = in;
    char* outPtr = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
        outLeft != 2)
        return byte;
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                 (static_cast<unsigned char>(out[1]) << 8));
}

CodePageTable BuildTable(const char* name) {
    CodePageTable table;
    iconv_t converter = iconv_open("UTF-16LE", name);
    for (unsigned byte = 0; byte < 256; ++byte) {
        char16_t unit = ByteToUnicode(converter, static_cast<unsigned char>(byte));
        table.toUnicode[byte] = unit;
        table.fromUnicode.emplace(unit, static_cast<unsigned char>(byte));
    }
    if (converter != reinterpret_cast<iconv_t>(-1)) iconv_close(converter);
    return table;
}

const CodePageTable& Table(unsigned codePage) {
    static const CodePageTable cp1251 = BuildTable("CP1251");
    static const CodePageTable cp1252 = BuildTable("CP1252");
    return codePage == 1252 ? cp1252 : cp1251;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

// Decodes one character at text[i], advancing i; malformed input gives U+FFFD.
char32_t NextUtf8(const std::string& text, size_t& i) {
    unsigned char lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) return lead;
    int extra = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
    if (extra < 0) return 0xFFFD;
    char32_t c = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size()) return 0xFFFD;
        unsigned char next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (next & 0x3F);
        ++i;
    }
    static constexpr char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < smallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return 0xFFFD;
    return c;
}

// Decodes one character at text[i], advancing i; a lone surrogate stays as it is.
char32_t NextUtf16(const std::u16string& text, size_t& i) {
    char16_t unit = text[i++];
    if (unit >= 0xD800 && unit < 0xDC00 && i < text.size() && text[i] >= 0xDC00 &&
        text[i] < 0xE000)
        return 0x10000 + ((unit - 0xD800) << 10) + (text[i++] - 0xDC00);
    return unit;
}

}  // namespace

std::u16string Cp1251ToUtf16(const std::string& text) {
    const CodePageTable& table = Table(1251);
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) out += table.toUnicode[static_cast<unsigned char>(c)];
    return out;
}

std::string Utf16ToCodePage(const std::u16string& text, unsigned codePage) {
    const CodePageTable& table = Table(codePage);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c = NextUtf16(text, i);
        auto found = c < 0x10000 ? table.fromUnicode.find(static_cast<char16_t>(c))
                                 : table.fromUnicode.end();
        out += found == table.fromUnicode.end() ? '?' : static_cast<char>(found->second);
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) AppendUtf8(out, NextUtf16(text, i));
    return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) AppendUtf16(out, NextUtf8(text, i));
    return out;
}

std::string Cp1251ToUtf8(const std::string& text) {
    return Utf16ToUtf8(Cp1251ToUtf16(text));
}

std::string Utf8ToCp1251(const std::string& text) {
    return Utf16ToCodePage(Utf8ToUtf16(text), 1251);
}

}  // namespace winsim
