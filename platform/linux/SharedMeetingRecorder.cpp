#include "platform/linux/SharedMeetingRecorder.h"

#include "app/Uuid.h"
#include "platform/linux/FfmpegAudioFileWriter.h"
#include "platform/linux/FfmpegAudioJoiner.h"
#include "platform/linux/PulseRecordPermission.h"
#include "platform/linux/PulseSegmentRecorder.h"
#include "platform/linux/PulseSystemAudio.h"

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
