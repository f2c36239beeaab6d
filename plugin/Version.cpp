#include "plugin/Version.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace orvan {
namespace {

struct Component {
    std::uint64_t number = 0;
    std::string_view suffix;
};

// The component starting at `position`, which moves past it and its dot.
Component next(std::string_view text, std::size_t& position) {
    Component component;
    std::size_t index = position;
    for (; index < text.size() && text[index] >= '0' && text[index] <= '9'; ++index) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[index] - '0');
        // Absurdly long numbers saturate instead of wrapping into small ones.
        constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
        component.number = component.number > (kMax - digit) / 10 ? kMax : component.number * 10 + digit;
    }
    const std::size_t dot = text.find('.', index);
    const std::size_t end = dot == std::string_view::npos ? text.size() : dot;
    component.suffix = text.substr(index, end - index);
    position = dot == std::string_view::npos ? text.size() : dot + 1;
    return component;
}

}  // namespace

int compareVersions(std::string_view left, std::string_view right) {
    std::size_t l = 0, r = 0;
    while (l < left.size() || r < right.size()) {
        const Component a = next(left, l);
        const Component b = next(right, r);
        if (a.number != b.number) return a.number < b.number ? -1 : 1;
        if (a.suffix == b.suffix) continue;
        if (a.suffix.empty()) return 1;
        if (b.suffix.empty()) return -1;
        return a.suffix < b.suffix ? -1 : 1;
    }
    return 0;
}

}  // namespace orvan
