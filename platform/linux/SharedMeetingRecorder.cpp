#include "platform/linux/SharedMeetingRecorder.h"

#include "app/Uuid.h"
#include "platform/linux/FfmpegAudioFileWriter.h"
#include "platform/linux/FfmpegAudioJoiner.h"
#include "platform/linux/PulseRecordPermission.h"
#include "platform/linux/PulseSegmentRecorder.h"
#include "recording/SystemAudioCapture.h"

namespace orvan {

std::shared_ptr<MeetingRecorder> sharedMeetingRecorder(const std::string& applicationIdentifier,
                                                       std::shared_ptr<MainLoop> mainLoop,
                                                       const std::filesystem::path& recordingsDirectory) {
    auto microphone = std::make_shared<PulseSegmentRecorder>();
    MeetingRecorder::configureShared(MeetingRecorderPorts{
        .applicationIdentifier = applicationIdentifier,
        .mainLoop = std::move(mainLoop),
        .clock = std::make_shared<SteadyClock>(),
        .permission = std::make_shared<PulseRecordPermission>(),
        .audioSession = microphone,
        .interruptions = microphone,
        .segments = microphone,
        .joiner = std::make_shared<FfmpegAudioJoiner>(),
        .systemAudio = std::make_shared<MixdownOnlySystemAudio>(std::make_shared<FfmpegAudioFileWriters>()),
        // Only a failed system-audio start shows an alert, and there is none without that capture.
        .alerts = nullptr,
        .recordingsDirectory = recordingsDirectory,
        .newUUID = randomUUID,
    });
    return MeetingRecorder::shared();
}

}  // namespace orvan
