#include "linux/pulse/PulseSystemAudio.h"

#include "linux/pulse/PulseCaptureStreams.h"
#include "linux/pulse/PulseConnection.h"

namespace orvan {

void PulseSystemAudio::start(const std::filesystem::path& dir, std::function<void(Started)> done) {
    // Connecting waits for the server: never on the recorder's queue.
    jobs_.run([ports = ports_, mendDrift = mendDrift_, dir, done = std::move(done)]() mutable {
        auto opened = PulseConnection::open(PulseCaptureStreams::kTimeout);
        if (const auto* error = std::get_if<std::string>(&opened)) {
            done(RecordingFailure(CaptureError::permissionDenied(*error).asSystemError()));
            return;
        }
        auto connection = std::move(std::get<std::unique_ptr<PulseConnection>>(opened));
        std::string monitor;
        std::string microphone;
        {
            PulseConnection::Lock lock(*connection);
            auto found = connection->defaults(PulseCaptureStreams::kTimeout);
            // The server cannot name its output: there is none to capture.
            if (std::holds_alternative<std::string>(found)) {
                done(RecordingFailure(CaptureError::noDisplay().asSystemError()));
                return;
            }
            const auto defaults = std::get<PulseConnection::Defaults>(found);
            auto output = defaults.sink.empty() ? std::nullopt : connection->monitorOf(defaults.sink, PulseCaptureStreams::kTimeout);
            if (!output) {
                done(RecordingFailure(CaptureError::noDisplay().asSystemError()));
                return;
            }
            monitor = *output;
            // Without a microphone the default source is an output's monitor, or there is none: the
            // system audio is recorded alone and the microphone's track stays silent.
            if (!defaults.source.empty()) {
                const auto source = connection->defaultSource(PulseCaptureStreams::kTimeout);
                const auto* info = std::get_if<PulseConnection::Source>(&source);
                if (info == nullptr || !info->monitor) microphone = defaults.source;
            }
        }
        auto created = SystemAudioCapture::create(dir, ports);
        if (const auto* error = std::get_if<SystemError>(&created)) {
            done(RecordingFailure(*error));
            return;
        }
        auto capture = std::get<std::shared_ptr<SystemAudioCapture>>(created);
        auto streams = std::make_shared<PulseCaptureStreams>(std::move(connection), capture, mendDrift);
        {
            PulseConnection::Lock lock(streams->connection());
            if (auto error = streams->open(CaptureOutputType::systemAudio, monitor)) {
                done(RecordingFailure(CaptureError::permissionDenied(*error).asSystemError()));
                return;
            }
            if (!microphone.empty() && microphone != monitor) {
                if (auto error = streams->open(CaptureOutputType::microphone, microphone)) {
                    done(RecordingFailure(CaptureError::permissionDenied(*error).asSystemError()));
                    return;
                }
            }
            streams->watch();
        }
        capture->attach(streams);
        done(std::shared_ptr<SystemAudioCapturing>(capture));
    });
}

}  // namespace orvan
