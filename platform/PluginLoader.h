#pragma once

#include <filesystem>
#include <memory>

namespace orvan {

// Loads a plug-in bundle and creates its principal object; null when the bundle is missing, does
// not load, or was built against another plug-in protocol.
class PluginLoader {
public:
    virtual ~PluginLoader() = default;
    virtual std::shared_ptr<void> load(const std::filesystem::path& bundle) = 0;
};

}  // namespace orvan
