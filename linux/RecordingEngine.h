#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <variant>

#include "app/NotificationCenter.h"
#include "platform/AlertPresenter.h"
#include "platform/MainLoop.h"
#include "platform/RecordingSignals.h"
#include "platform/SystemError.h"
#include "platform/UserDefaults.h"
#include "recording/MeetingRecorder.h"

namespace orvan {

// The meeting recorder's adapters (the sound server's client and FFmpeg) live in a module of their
// own, loaded at the first recorder command: FFmpeg and the sixty libraries it pulls in would
// otherwise take about 11 MB in every idle shell.
struct RecordingEngineInputs {
    std::string applicationIdentifier;
    std::shared_ptr<MainLoop> mainLoop;
    std::shared_ptr<NotificationCenter> notifications;
    std::shared_ptr<AlertPresenter> alerts;
    std::filesystem::path recordingsDirectory;
    std::shared_ptr<UserDefaults> defaults;  // the application's settings
    // Shared with the meeting popup's meters.
    std::shared_ptr<RecordingSignals> signals = nullptr;
};

// The module's one entry point: fills `ports` with the adapters, everything but `newUUID` and
// `healthChanged`.
using MakeRecordingPorts = void (*)(const RecordingEngineInputs* inputs, MeetingRecorderPorts* ports);
inline constexpr const char* kMakeRecordingPortsSymbol = "orvan_make_recording_ports";

// Where the module lies in the application's bundle.
std::filesystem::path recordingEngineModule(const std::filesystem::path& bundleDirectory);

// Loads the module (once per process) and makes the process's meeting recorder on its adapters.
std::variant<std::shared_ptr<MeetingRecorder>, SystemError> loadMeetingRecorder(const std::filesystem::path& module,
                                                                                const RecordingEngineInputs& inputs);

}  // namespace orvan
