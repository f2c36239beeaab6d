#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/MainLoop.h"
#include "recording/MeetingRecorder.h"

namespace orvan {

// The process's one meeting recorder on the Linux adapters: the microphone on the sound server, AAC
// segments and their joining with FFmpeg. System-audio capture is not supported yet, so every
// recording is from the microphone.
std::shared_ptr<MeetingRecorder> sharedMeetingRecorder(const std::string& applicationIdentifier,
                                                       std::shared_ptr<MainLoop> mainLoop,
                                                       const std::filesystem::path& recordingsDirectory);

}  // namespace orvan
