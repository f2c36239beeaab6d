#pragma once

#include <optional>
#include <string>

namespace orvan {

// What the meeting watch remembers between passes: the meeting seen last and how many passes in a
// row have missed it.
struct MeetingWatcher {
    std::optional<std::string> current;
    int misses = 0;
};

}  // namespace orvan
