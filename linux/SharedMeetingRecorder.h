#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/NotificationCenter.h"
#include "platform/AlertPresenter.h"
#include "platform/MainLoop.h"
#include "recording/MeetingRecorder.h"

namespace orvan {

// The process's one meeting recorder on the Linux adapters: the output's monitor and the microphone
// on the sound server as two raw tracks mixed down with FFmpeg, or, where that capture cannot start,
// the microphone alone in AAC segments joined with FFmpeg.
std::shared_ptr<MeetingRecorder> sharedMeetingRecorder(const std::string& applicationIdentifier,
                                                       std::shared_ptr<MainLoop> mainLoop,
                                                       std::shared_ptr<NotificationCenter> notifications,
                                                       std::shared_ptr<AlertPresenter> alerts,
                                                       const std::filesystem::path& recordingsDirectory);

}  // namespace orvan
