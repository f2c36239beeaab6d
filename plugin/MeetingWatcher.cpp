#include "plugin/MeetingWatcher.h"

namespace orvan {

namespace {
constexpr int kMissesUntilEnded = 3;
}

std::optional<MeetingWatcher::Event> MeetingWatcher::update(const Found& found) {
    switch (found.kind) {
        case Found::Kind::needsScreenPermission:
            // The titles that cannot be read may hide a browser's meeting, but not the meeting seen:
            // a client's process or microphone, or a title that was readable, would show it. Without
            // counting this as a miss such a meeting would never end.
            if (current && ++misses >= kMissesUntilEnded) return ended();
            return Event{"permission", std::nullopt};
        case Found::Kind::inMeeting: {
            misses = 0;
            if (current) return std::nullopt;
            current = found.label.value_or("");
            return Event{"started", found.label};
        }
        case Found::Kind::none:
            if (!current) return std::nullopt;
            if (++misses < kMissesUntilEnded) return std::nullopt;
            return ended();
    }
    return std::nullopt;
}

MeetingWatcher::Event MeetingWatcher::ended() {
    current.reset();
    misses = 0;
    return Event{"ended", std::nullopt};
}

}  // namespace orvan
