#pragma once

#include <chrono>
#include <string>

#include "platform/Url.h"

namespace orvan {

// The shell's own script world: the only one that can reach the native channels.
inline constexpr const char* kShellScriptWorld = "orvan-shell";
inline constexpr const char* kRecordingScheme = "orvan-rec";
inline constexpr const char* kSenderOriginKey = "origin";
inline constexpr const char* kMessageBodyKey = "body";

// The scripts injected at document start into every top-frame document, each for the app origin.
struct PageScripts {
    // Runs in kShellScriptWorld and relays the messages of an app-origin document to the native
    // channels, each as JSON text of an object: the document's origin under kSenderOriginKey, the page's message
    // under kMessageBodyKey.
    static std::string messageRelay(const std::string& appOrigin);
    // window.orvanMobile and window.open; runs in the page's world.
    static std::string mobileBridge(const std::string& appOrigin);
    // Notifications, visibility, badge and deployment polling; runs in the page's world, after the bridge.
    static std::string shellPage(const std::string& appOrigin, std::chrono::milliseconds pollInterval);
};

}  // namespace orvan
