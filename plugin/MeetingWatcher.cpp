#include "plugin/MeetingWatcher.h"

namespace orvan {

namespace {
constexpr int kMissesUntilEnded = 3;
}

std::optional<MeetingWatcher::Event> MeetingWatcher::update(const Found& found) {
    switch (found.kind) {
        case Found::Kind::needsScreenPermission:
            misses = 0;
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
            current.reset();
            misses = 0;
            return Event{"ended", std::nullopt};
    }
    return std::nullopt;
}

}  // namespace orvan
