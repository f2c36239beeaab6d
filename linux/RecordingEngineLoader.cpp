#include <dlfcn.h>

#include "platform/Uuid.h"
#include "linux/RecordingEngine.h"
#include "platform/SystemLog.h"

namespace orvan {

std::filesystem::path recordingEngineModule(const std::filesystem::path& bundleDirectory) {
    return bundleDirectory / "Frameworks" / "RecordingEngine.so";
}

std::variant<std::shared_ptr<MeetingRecorder>, SystemError> loadMeetingRecorder(const std::filesystem::path& module,
                                                                                const RecordingEngineInputs& inputs) {
    // Never closed: the recorder's threads and callbacks run its code for the rest of the process.
    void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto make = library != nullptr ? reinterpret_cast<MakeRecordingPorts>(dlsym(library, kMakeRecordingPortsSymbol))
                                   : nullptr;
    if (make == nullptr) {
        const char* reason = dlerror();
        const std::string description =
            std::string("録音機能を読み込めませんでした: ") + (reason != nullptr ? reason : module.string());
        // A module without the entry point is let go: the next command opens it afresh.
        if (library != nullptr) dlclose(library);
        systemLog(description);
        return SystemError{description};
    }
    MeetingRecorderPorts ports;
    make(&inputs, &ports);
    ports.newUUID = randomUUID;
    // The meeting session hears it the way it hears a capture that failed.
    ports.healthChanged = [center = std::weak_ptr<NotificationCenter>(inputs.notifications)](const RecordingHealth& health) {
        if (auto strong = center.lock()) strong->post(notification_names::kRecordingHealth, health);
    };
    MeetingRecorder::configureShared(std::move(ports));
    return MeetingRecorder::shared();
}

}  // namespace orvan
