#pragma once

#include <optional>
#include <string>

#include "plugin/Found.h"

namespace orvan {

// What the meeting watch remembers between passes: the meeting seen last and how many passes in a
// row have missed it. It turns pass results into the events the application hears.
struct MeetingWatcher {
    struct Event {
        std::string event;  // "started", "ended" or "permission"
        std::optional<std::string> label;
        bool operator==(const Event&) const = default;
    };

    // The label of the meeting reported as started; "" for one whose service is unknown.
    std::optional<std::string> current;
    int misses = 0;

    // One pass's result in; the event to report, if any, out. A change of service during a meeting
    // is not reported, and a meeting ends only on the third pass in a row without it.
    std::optional<Event> update(const Found& found);

private:
    Event ended();
};

}  // namespace orvan
