#include "plugin/MeetingPopupPlacement.h"

#include <charconv>

namespace orvan::MeetingPopupPlacement {

namespace {

// Locale-independent both ways: a desktop in a language with a decimal comma reads the same file.
std::string number(double value) {
    char digits[32];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    return error == std::errc() ? std::string(digits, end) : "0";
}

void skipSpaces(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

bool expect(std::string_view& text, char c) {
    skipSpaces(text);
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

std::optional<double> readNumber(std::string_view& text) {
    skipSpaces(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value != value) return std::nullopt;  // NaN counts as unreadable
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

}  // namespace

std::string pointString(PopupPoint point) { return "{" + number(point.x) + ", " + number(point.y) + "}"; }

std::optional<PopupPoint> parsePoint(std::string_view text) {
    if (!expect(text, '{')) return std::nullopt;
    const auto x = readNumber(text);
    if (!x || !expect(text, ',')) return std::nullopt;
    const auto y = readNumber(text);
    if (!y || !expect(text, '}')) return std::nullopt;
    skipSpaces(text);
    if (!text.empty()) return std::nullopt;
    return PopupPoint{*x, *y};
}

std::optional<PopupPoint> origin(const std::optional<std::string>& remembered, const std::vector<PopupScreen>& screens) {
    if (remembered) {
        if (const auto point = parsePoint(*remembered)) {
            for (const PopupScreen& screen : screens) {
                const PopupRect& area = screen.workArea;
                const PopupRect enlarged{area.x - kWidth / 2, area.y - kHeight / 2, area.width + kWidth,
                                         area.height + kHeight};
                if (enlarged.contains(*point)) return point;
            }
        }
    }
    if (screens.empty()) return std::nullopt;
    const PopupScreen* primary = &screens.front();
    for (const PopupScreen& screen : screens)
        if (screen.primary) primary = &screen;
    const PopupRect& area = primary->workArea;
    return PopupPoint{area.x + area.width - kWidth - 24, area.y + 72};
}

}  // namespace orvan::MeetingPopupPlacement
