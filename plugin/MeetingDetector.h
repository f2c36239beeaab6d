#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/MeetingSources.h"
#include "plugin/Found.h"

namespace orvan {

// Whether the user is in an online meeting, from the running processes, the windows and the
// microphone. Stateless.
namespace MeetingDetector {

struct Window {
    std::string owner;
    std::optional<std::string> title;
};

// Where a pass reads the system. A missing source counts as showing nothing.
struct Sources {
    std::shared_ptr<RunningProcesses> processes;
    std::shared_ptr<WindowList> windows;
    std::shared_ptr<RecordingStreams> streams;
    std::shared_ptr<Clock> clock;
    // This shell's process: it and its children (web view, recorder) never count as a meeting.
    int ownProcessId = 0;
};

// "Zoom" for the meeting process of the native Zoom client, "Teams" for the native Teams client's.
std::optional<std::string> meetingAppLabel(std::string_view processName);
// One of the browsers whose tab titles name the meeting service, ignoring case.
bool isMeetingBrowser(std::string_view owner);
// The title ends with the label and has more than separators in front of it.
bool titleEndsWithLabel(std::string_view label, std::string_view title);
Found classifyWindows(const std::vector<Window>& windows, bool screenAccess);

// Application windows front to back, owners and titles as the rules above expect them.
std::vector<Window> listWindows(const DesktopWindows& desktop);

Found detectMeeting(const Sources& sources);

}  // namespace MeetingDetector
}  // namespace orvan
