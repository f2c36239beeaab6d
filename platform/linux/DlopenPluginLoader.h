#pragma once

#include "platform/PluginLoader.h"

namespace orvan {

// A plug-in bundle is a folder with an Info.plist naming its shared object (CFBundleExecutable).
// The object exports the protocol identity it was built against and a factory for its principal
// object; a bundle of another protocol is refused like a missing one.
class DlopenPluginLoader final : public PluginLoader {
public:
    static constexpr const char* kProtocolSymbol = "orvan_plugin_protocol";
    static constexpr const char* kFactorySymbol = "orvan_plugin_create";
    static constexpr const char* kDestroySymbol = "orvan_plugin_destroy";
    static constexpr const char* kProtocolIdentity = "KestrinProtocol/1";

    std::shared_ptr<void> load(const std::filesystem::path& bundle) override;
};

}  // namespace orvan
