#pragma once

#include <filesystem>
#include <memory>

#include "macshell/KestrinProtocol.h"
#include "platform/PluginLoader.h"

namespace orvan {

// The plug-in instance together with the bundle whose code it runs on; the instance goes first.
struct LoadedKestrin {
    std::unique_ptr<PluginBundle> bundle;
    std::shared_ptr<KestrinProtocol> instance;
};

// Opens "Kestrin.bundle" in the plug-ins folder, loads it, and creates its principal class (the
// Info.plist's NSPrincipalClass) through the bundle's factory, provided the bundle was built against
// this KestrinProtocol. Null on any failure: every one is the same to the caller.
std::unique_ptr<LoadedKestrin> loadKestrin(PluginLoader& loader, const std::filesystem::path& plugInsFolder);

}  // namespace orvan
