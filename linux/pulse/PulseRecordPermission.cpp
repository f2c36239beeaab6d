#include "linux/pulse/PulseRecordPermission.h"

#include <memory>
#include <string>
#include <variant>

#include "platform/SystemLog.h"
#include "linux/pulse/PulseConnection.h"

namespace orvan {

namespace {

bool microphoneReachable(std::chrono::milliseconds timeout) {
    auto opened = PulseConnection::open(timeout);
    if (const auto* error = std::get_if<std::string>(&opened)) {
        systemLog("MeetingRecorder: sound server refused: " + *error);
        return false;
    }
    auto& connection = *std::get<std::unique_ptr<PulseConnection>>(opened);
    PulseConnection::Lock lock(connection);
    const auto found = connection.defaultSource(timeout);
    if (const auto* error = std::get_if<std::string>(&found)) {
        systemLog("MeetingRecorder: no microphone: " + *error);
        return false;
    }
    return true;
}

}  // namespace

void PulseRecordPermission::request(std::function<void(bool)> answer) {
    jobs_.run([timeout = timeout_, answer = std::move(answer)] { answer(microphoneReachable(timeout)); });
}

}  // namespace orvan
