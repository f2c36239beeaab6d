#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

#include "app/Uuid.h"
#include "platform/linux/FfmpegAudioFileWriter.h"
#include "platform/linux/FfmpegAudioJoiner.h"
#include "platform/linux/PulseRecordPermission.h"
#include "platform/linux/PulseSegmentRecorder.h"
#include "recording/SystemAudioCapture.h"
#include "recording/MeetingRecorder.h"
#include "tests/fakes/FakeMainLoop.h"

namespace orvan::testing {

// A meeting recorder on the real sound server and FFmpeg, as the shell builds it, with a shorter
// rotation. Completions go to a fake main loop that the caller runs.
struct RealRecorder {
    explicit RealRecorder(const std::filesystem::path& recordings,
                          std::chrono::milliseconds rotation = std::chrono::seconds(300)) {
        recorder = MeetingRecorder::create(MeetingRecorderPorts{
            .applicationIdentifier = "jp.tomoriva.OrvanOffice",
            .mainLoop = mainLoop,
            .clock = std::make_shared<SteadyClock>(),
            .permission = std::make_shared<PulseRecordPermission>(),
            .audioSession = microphone,
            .interruptions = microphone,
            .segments = microphone,
            .joiner = std::make_shared<FfmpegAudioJoiner>(),
            .systemAudio = std::make_shared<MixdownOnlySystemAudio>(std::make_shared<FfmpegAudioFileWriters>()),
            .alerts = nullptr,
            .recordingsDirectory = recordings,
            .newUUID = randomUUID,
            .rotationInterval = rotation,
        });
    }

    std::shared_ptr<FakeMainLoop> mainLoop = std::make_shared<FakeMainLoop>();
    std::shared_ptr<PulseSegmentRecorder> microphone = std::make_shared<PulseSegmentRecorder>();
    std::shared_ptr<MeetingRecorder> recorder;
};

}  // namespace orvan::testing
