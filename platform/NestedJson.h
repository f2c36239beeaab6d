#pragma once

#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvan {

// Parses JSON text whose arrays and objects nest at most `levels` deep; nothing when the text is not
// JSON or nests deeper. A deeper value is skipped while it is read, never built: copying or freeing
// it would recurse once per level, and a page can nest tens of thousands of levels.
inline std::optional<nlohmann::json> parseJsonNestedAtMost(std::string_view text, int levels) {
    using Event = nlohmann::json::parse_event_t;
    bool tooDeep = false;
    auto parsed = nlohmann::json::parse(
        text,
        [&tooDeep, levels](int depth, Event event, nlohmann::json&) {
            // `depth` counts the containers around this one.
            if ((event == Event::object_start || event == Event::array_start) && depth >= levels) tooDeep = true;
            return !tooDeep;
        },
        false);
    if (tooDeep || parsed.is_discarded()) return std::nullopt;
    return parsed;
}

}  // namespace orvan
