#pragma once

#include <string>

#include "app/Url.h"

namespace orvan {

// The shell's own script world: the only one that can reach the native message handlers.
inline constexpr const char* kShellScriptWorld = "orvan-shell";
inline constexpr const char* kRecordingScheme = "orvan-rec";

// The scripts injected at document start into every top-frame document, each for the app origin.
struct PageScripts {
    // Runs in kShellScriptWorld and relays page messages to the native handlers.
    static std::string messageRelay();
    // window.orvanMobile and window.open; runs in the page's world.
    static std::string mobileBridge(const std::string& appOrigin);
    // Notifications, visibility, badge and deployment polling; runs in the page's world, after the bridge.
    static std::string shellPage(const std::string& appOrigin);
};

}  // namespace orvan
