#include "macshell/MacShell.h"

#include <system_error>
#include <utility>

#include "platform/SystemLog.h"

namespace orvan {

MacShell::MacShell(std::filesystem::path builtInPlugInsFolder, std::shared_ptr<PluginLoader> loader)
    : plugInsFolder_(std::move(builtInPlugInsFolder)), loader_(std::move(loader)) {}

void MacShell::loadPlugin() {
    std::error_code error;
    if (bridge_ || !std::filesystem::is_directory(plugInsFolder_, error)) {
        systemLog(kLoadFailedLine);
        return;
    }
    auto instance = loader_ ? loader_->load(plugInsFolder_ / kPluginBundleName) : nullptr;
    if (!instance) {
        systemLog(kLoadFailedLine);
        return;
    }
    bridge_ = std::move(instance);
}

void MacShell::applyBadges(const nlohmann::json&) {}
void MacShell::recordingStarted() {}
void MacShell::setPaused(bool) {}
void MacShell::recordingEnded() {}

}  // namespace orvan
