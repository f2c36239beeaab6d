#include "plugin/Utf8Text.h"

#include <algorithm>

namespace orvan::utf8 {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The code point starting at `at` and its length in bytes; malformed input counts byte by byte.
std::pair<char32_t, std::size_t> decode(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t size = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    if (at + size > text.size()) return {lead, 1};
    char32_t point = size == 1 ? lead : lead & (0x7F >> size);
    for (std::size_t i = 1; i < size; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if (!isContinuation(next)) return {lead, 1};
        point = (point << 6) | (next & 0x3F);
    }
    return {point, size};
}

// Where the code point that ends just before `end` starts.
std::size_t previousStart(std::string_view text, std::size_t end) {
    std::size_t at = end - 1;
    while (at > 0 && end - at < 4 && isContinuation(static_cast<unsigned char>(text[at]))) --at;
    return at;
}

bool isWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

template <typename Predicate>
std::string_view trimIf(std::string_view text, Predicate drop) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto [point, size] = decode(text, begin);
        if (!drop(point)) break;
        begin += size;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t start = previousStart(text, end);
        if (!drop(decode(text, start).first)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

std::size_t length(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !isContinuation(static_cast<unsigned char>(c)); }));
}

std::string asciiLower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

std::string_view trimWhitespace(std::string_view text) { return trimIf(text, isWhitespace); }

bool hasNonWhitespace(std::string_view text) { return !trimWhitespace(text).empty(); }

std::string_view trim(std::string_view text, std::u32string_view characters) {
    return trimIf(text, [characters](char32_t c) { return characters.find(c) != std::u32string_view::npos; });
}

}  // namespace orvan::utf8
