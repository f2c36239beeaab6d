#pragma once

#include <filesystem>
#include <memory>

#include "macshell/MacShellPort.h"
#include "platform/PluginLoader.h"

namespace orvan {

// The application's side of the tray companion: loads the plug-in at launch and keeps it. Until
// the plug-in exists the badge and recording calls have nowhere to go and change nothing.
class MacShell final : public MacShellPort {
public:
    static constexpr const char* kPluginBundleName = "Kestrin.bundle";
    static constexpr const char* kLoadFailedLine = "MacShell: Kestrin を読み込めません（メニューバーと ⌘⇧O は無しで続ける）";

    MacShell(std::filesystem::path builtInPlugInsFolder, std::shared_ptr<PluginLoader> loader);

    // Loads the plug-in once; every failure, and every further call, logs one line and changes nothing.
    void loadPlugin();
    bool isPluginLoaded() const { return bridge_ != nullptr; }

    void applyBadges(const nlohmann::json& counts) override;
    void recordingStarted() override;
    void setPaused(bool paused) override;
    void recordingEnded() override;

private:
    std::filesystem::path plugInsFolder_;
    std::shared_ptr<PluginLoader> loader_;
    std::shared_ptr<void> bridge_;
};

}  // namespace orvan
