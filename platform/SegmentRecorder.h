#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <variant>

#include "platform/SystemError.h"

namespace orvan {

// How a microphone segment is encoded.
struct SegmentSettings {
    static constexpr std::uint32_t kMPEG4AAC = 0x61616320;  // "aac "
    std::uint32_t formatID = kMPEG4AAC;
    int sampleRate = 16000;
    int numberOfChannels = 1;
    int encoderBitRate = 32000;

    friend bool operator==(const SegmentSettings&, const SegmentSettings&) = default;
};

// One segment file being recorded from the microphone.
class SegmentRecording {
public:
    // Stops recording, if it still does.
    virtual ~SegmentRecording() = default;
    // Starts recording into the file; false when it did not start.
    virtual bool record() = 0;
    // Stops recording and finishes the file: a pause, an interruption or the end of the recording.
    virtual void stop() = 0;
    // Finishes the file for the next segment to follow at once (a rotation): what is captured in
    // between belongs to that segment, so nothing is lost between the two.
    virtual void handOver() { stop(); }
};

// Makes the microphone's segment recorders. Called from the recorder's queue only.
class SegmentRecorder {
public:
    virtual ~SegmentRecorder() = default;
    // Creates the file at `file` for recording; a failure is the system's own.
    virtual std::variant<std::unique_ptr<SegmentRecording>, SystemError> create(const std::filesystem::path& file,
                                                                                const SegmentSettings& settings) = 0;
};

}  // namespace orvan
