// The recording engine module: the meeting recorder's ports on the sound server and FFmpeg.
#include "linux/RecordingEngine.h"

#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/ffmpeg/FfmpegAudioJoiner.h"
#include "linux/glib/GioFreeSpace.h"
#include "linux/glib/SyslogSink.h"
#include "linux/pulse/PulseRecordPermission.h"
#include "linux/pulse/PulseSegmentRecorder.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "linux/webrtc/WebRtcEchoCancellers.h"

extern "C" __attribute__((visibility("default"))) void orvan_make_recording_ports(
    const orvan::RecordingEngineInputs* inputs, orvan::MeetingRecorderPorts* ports) {
    using namespace orvan;
    // The module has its own copy of the log's sink.
    setLogSink(std::make_shared<SyslogSink>());
    // The output's monitor and the microphone as two raw tracks mixed down with FFmpeg, the echo of
    // the first taken out of the second with WebRTC, or, where that capture cannot start, the
    // microphone alone in AAC segments joined with FFmpeg.
    auto microphone = std::make_shared<PulseSegmentRecorder>(PulseSegmentRecorder::Options{.signals = inputs->signals});
    auto clock = std::make_shared<SteadyClock>();
    *ports = MeetingRecorderPorts{
        .applicationIdentifier = inputs->applicationIdentifier,
        .mainLoop = inputs->mainLoop,
        .clock = clock,
        .permission = std::make_shared<PulseRecordPermission>(),
        .audioSession = microphone,
        .interruptions = microphone,
        .segments = microphone,
        .joiner = std::make_shared<FfmpegAudioJoiner>(),
        .systemAudio = std::make_shared<PulseSystemAudio>(SystemAudioCapturePorts{
            .applicationIdentifier = inputs->applicationIdentifier,
            .clock = clock,
            .converters = std::make_shared<SwrAudioConverters>(),
            .writers = std::make_shared<FfmpegAudioFileWriters>(),
            .notifications = inputs->notifications,
            .echoCancellers = std::make_shared<WebRtcEchoCancellers>(),
            .defaults = inputs->defaults,
            .signals = inputs->signals,
        }),
        .alerts = inputs->alerts,
        .recordingsDirectory = inputs->recordingsDirectory,
        .newUUID = {},  // the shell's own
        .signals = inputs->signals,
        .freeSpace = std::make_shared<GioFreeSpace>(),
    };
}
