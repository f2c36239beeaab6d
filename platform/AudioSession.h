#pragma once

#include <optional>

#include "platform/SystemError.h"

namespace orvan {

// The process's use of the sound system while it records from the microphone. Called from the
// recorder's queue only; each call may wait briefly for the sound server.
class AudioSession {
public:
    virtual ~AudioSession() = default;
    // Spoken audio, recording and playing, mixing with other applications' sound.
    virtual std::optional<SystemError> configureForSpokenRecording() = 0;
    // Activating an active session changes nothing.
    virtual std::optional<SystemError> activate() = 0;
    // Lets other applications know the session has ended.
    virtual std::optional<SystemError> deactivate() = 0;
};

}  // namespace orvan
