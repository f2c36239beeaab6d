#include "plugin/MicrophoneUse.h"

#include <array>
#include <chrono>

#include "plugin/Utf8Text.h"

namespace orvan::MicrophoneUse {

namespace {

using namespace std::chrono_literals;

// A notification sound or a test of the device opens the microphone for a moment.
constexpr Clock::Time kClientSettled = 3s;
// A browser's tab may record a voice message; a call lasts longer.
constexpr Clock::Time kBrowserSettled = 10s;

constexpr std::array<std::string_view, 11> kBrowserBinaries = {
    "chrome",  "chromium", "chromium-browser", "msedge",     "brave", "firefox",
    "firefox-esr", "firefox-bin", "vivaldi-bin", "opera", "vivaldi"};

}  // namespace

std::optional<std::string> meetingClientLabel(std::string_view binary, std::string_view applicationName) {
    const std::string name = utf8::asciiLower(binary);
    if (name == "zoom" || name == "zoom.real" || utf8::asciiLower(applicationName).starts_with("zoom voiceengine"))
        return "Zoom";
    if (name == "teams" || name.starts_with("teams-") || name == "ms-teams") return "Teams";
    return std::nullopt;
}

bool isBrowserBinary(std::string_view binary) {
    const std::string name = utf8::asciiLower(binary);
    for (std::string_view known : kBrowserBinaries) {
        if (name == known) return true;
    }
    return false;
}

bool holdsMicrophone(const RecordingStream& stream, Clock::Time now, Clock::Time settled) {
    if (stream.corked || stream.fromMonitor) return false;
    // Level meters ask for peaks only ("Peak detect" in the volume control).
    if (stream.resampleMethod == "peaks" || utf8::asciiLower(stream.mediaName).find("peak detect") != std::string::npos)
        return false;
    if (stream.mediaRole == "production") return false;
    return now - stream.activeSince >= settled;
}

Holders holders(const std::vector<RecordingStream>& streams, const std::set<int>& ownProcesses, Clock::Time now) {
    Holders result;
    for (const RecordingStream& stream : streams) {
        if (ownProcesses.contains(stream.processId)) continue;
        if (auto label = meetingClientLabel(stream.processBinary, stream.applicationName)) {
            if (!result.meetingClient && holdsMicrophone(stream, now, kClientSettled)) result.meetingClient = label;
        } else if (isBrowserBinary(stream.processBinary) && now - stream.activeSince > kBrowserSettled &&
                   holdsMicrophone(stream, now, kBrowserSettled)) {
            result.browser = true;
        }
    }
    return result;
}

}  // namespace orvan::MicrophoneUse
