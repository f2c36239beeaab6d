#include "linux/SharedMeetingRecorder.h"

#include "app/Uuid.h"
#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/ffmpeg/FfmpegAudioJoiner.h"
#include "linux/pulse/PulseRecordPermission.h"
#include "linux/pulse/PulseSegmentRecorder.h"
#include "linux/pulse/PulseSystemAudio.h"

namespace orvan {

std::shared_ptr<MeetingRecorder> sharedMeetingRecorder(const std::string& applicationIdentifier,
                                                       std::shared_ptr<MainLoop> mainLoop,
                                                       std::shared_ptr<NotificationCenter> notifications,
                                                       std::shared_ptr<AlertPresenter> alerts,
                                                       const std::filesystem::path& recordingsDirectory) {
    auto microphone = std::make_shared<PulseSegmentRecorder>();
    auto clock = std::make_shared<SteadyClock>();
    MeetingRecorder::configureShared(MeetingRecorderPorts{
        .applicationIdentifier = applicationIdentifier,
        .mainLoop = std::move(mainLoop),
        .clock = clock,
        .permission = std::make_shared<PulseRecordPermission>(),
        .audioSession = microphone,
        .interruptions = microphone,
        .segments = microphone,
        .joiner = std::make_shared<FfmpegAudioJoiner>(),
        .systemAudio = std::make_shared<PulseSystemAudio>(SystemAudioCapturePorts{
            .applicationIdentifier = applicationIdentifier,
            .clock = clock,
            .converters = std::make_shared<SwrAudioConverters>(),
            .writers = std::make_shared<FfmpegAudioFileWriters>(),
            .notifications = std::move(notifications),
        }),
        .alerts = std::move(alerts),
        .recordingsDirectory = recordingsDirectory,
        .newUUID = randomUUID,
    });
    return MeetingRecorder::shared();
}

}  // namespace orvan
