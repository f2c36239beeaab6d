#pragma once

#include "platform/PluginLoader.h"

namespace orvan {

// Bundles on dlopen: the Info.plist (libplist) names the shared object in CFBundleExecutable, which
// is opened with RTLD_LOCAL so that two plug-ins never see each other's symbols.
class DlopenPluginLoader final : public PluginLoader {
public:
    std::unique_ptr<PluginBundle> open(const std::filesystem::path& bundle) override;
};

}  // namespace orvan
