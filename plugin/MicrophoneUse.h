#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/MeetingSources.h"

namespace orvan {

// Who holds the microphone in a way that means a call. Recording and streaming software, level
// meters, output monitors and a sound that opens the microphone for a moment do not.
namespace MicrophoneUse {

// "Zoom" or "Teams" for a native meeting client's process binary (or application name).
std::optional<std::string> meetingClientLabel(std::string_view binary, std::string_view applicationName);
bool isBrowserBinary(std::string_view binary);
// Whether a stream is a real, lasting use of a microphone: recording now, from a source that is not
// an output's monitor, not a level meter, not production software, for at least `settled`.
bool holdsMicrophone(const RecordingStream& stream, Clock::Time now, Clock::Time settled);

struct Holders {
    // The native meeting client holding the microphone, if any.
    std::optional<std::string> meetingClient;
    // A browser has held it longer than a call's first seconds.
    bool browser = false;
};

// Streams of `ownProcesses` never count.
Holders holders(const std::vector<RecordingStream>& streams, const std::set<int>& ownProcesses, Clock::Time now);

}  // namespace MicrophoneUse
}  // namespace orvan
