#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

#include "platform/Uuid.h"
#include "linux/glib/GioFreeSpace.h"
#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/ffmpeg/FfmpegAudioJoiner.h"
#include "linux/pulse/PulseRecordPermission.h"
#include "linux/pulse/PulseSegmentRecorder.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "recording/SystemAudioCapture.h"
#include "recording/MeetingRecorder.h"
#include "tests/fakes/FakeMainLoop.h"

namespace orvan::testing {

// A meeting recorder on the real sound server and FFmpeg, as the shell builds it, with a shorter
// rotation; by default from the microphone only, or, with `systemAudio`, capturing the output too.
// Completions go to a fake main loop that the caller runs.
struct RealRecorder {
    explicit RealRecorder(const std::filesystem::path& recordings,
                          std::chrono::milliseconds rotation = std::chrono::seconds(300), bool systemAudio = false) {
        auto writers = std::make_shared<FfmpegAudioFileWriters>();
        std::shared_ptr<SystemAudio> system = std::make_shared<MixdownOnlySystemAudio>(writers);
        if (systemAudio) {
            system = std::make_shared<PulseSystemAudio>(SystemAudioCapturePorts{
                .applicationIdentifier = "jp.tomoriva.OrvanOffice",
                .clock = std::make_shared<SteadyClock>(),
                .converters = std::make_shared<SwrAudioConverters>(),
                .writers = writers,
                .notifications = notifications,
                .signals = signals,
            });
        }
        recorder = MeetingRecorder::create(MeetingRecorderPorts{
            .applicationIdentifier = "jp.tomoriva.OrvanOffice",
            .mainLoop = mainLoop,
            .clock = std::make_shared<SteadyClock>(),
            .permission = std::make_shared<PulseRecordPermission>(),
            .audioSession = microphone,
            .interruptions = microphone,
            .segments = microphone,
            .joiner = std::make_shared<FfmpegAudioJoiner>(),
            .systemAudio = system,
            .alerts = nullptr,
            .recordingsDirectory = recordings,
            .newUUID = randomUUID,
            .rotationInterval = rotation,
            .signals = signals,
            .freeSpace = std::make_shared<GioFreeSpace>(),
            .healthChanged = [this](const RecordingHealth& changed) { health.push_back(changed); },
        });
    }

    std::shared_ptr<FakeMainLoop> mainLoop = std::make_shared<FakeMainLoop>();
    std::shared_ptr<NotificationCenter> notifications = NotificationCenter::create(*mainLoop);
    std::shared_ptr<RecordingSignals> signals = std::make_shared<RecordingSignals>();
    std::shared_ptr<PulseSegmentRecorder> microphone = std::make_shared<PulseSegmentRecorder>();
    std::vector<RecordingHealth> health;  // every change, as the main loop heard it
    std::shared_ptr<MeetingRecorder> recorder;
};

}  // namespace orvan::testing
