// Conversions between the code pages the simulated machine deals in.
#pragma once

#include <string>

namespace winsim {

std::string Cp1251ToUtf8(const std::string& text);
std::string Utf8ToCp1251(const std::string& text);  // unmappable characters become '?'
std::u16string Cp1251ToUtf16(const std::string& text);
std::string Utf16ToCodePage(const std::u16string& text, unsigned codePage);  // 1251 or 1252; '?' for the rest
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace winsim
