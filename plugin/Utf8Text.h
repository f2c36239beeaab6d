#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvan::utf8 {

// Characters (code points) in a UTF-8 string.
std::size_t length(std::string_view text);
// ASCII letters lower-cased; everything else left as it is.
std::string asciiLower(std::string_view text);
// Trims white space and line breaks, including the Unicode spaces (U+3000 among them).
std::string_view trimWhitespace(std::string_view text);
// True when there is a character that is not white space.
bool hasNonWhitespace(std::string_view text);
// Trims the given characters (each one code point, in UTF-8) from both ends.
std::string_view trim(std::string_view text, std::u32string_view characters);

}  // namespace orvan::utf8
