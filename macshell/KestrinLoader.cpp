#include "macshell/KestrinLoader.h"

#include <cstring>
#include <system_error>

namespace orvan {

namespace {

template <typename Function>
Function exported(const PluginBundle& bundle, const char* name) {
    return reinterpret_cast<Function>(bundle.symbol(name));
}

}  // namespace

std::unique_ptr<LoadedKestrin> loadKestrin(PluginLoader& loader, const std::filesystem::path& plugInsFolder) {
    std::error_code error;
    if (plugInsFolder.empty() || !std::filesystem::is_directory(plugInsFolder, error)) return nullptr;
    auto bundle = loader.open(plugInsFolder / "Kestrin.bundle");
    if (!bundle || !bundle->load()) return nullptr;

    const auto principalClass = bundle->infoString("NSPrincipalClass");
    if (!principalClass || principalClass->empty()) return nullptr;
    const auto identity = exported<kestrin::ProtocolIdentityFunction>(*bundle, kestrin::kProtocolSymbol);
    const auto create = exported<kestrin::CreateFunction>(*bundle, kestrin::kCreateSymbol);
    const auto destroy = exported<kestrin::DestroyFunction>(*bundle, kestrin::kDestroySymbol);
    if (identity == nullptr || create == nullptr || destroy == nullptr) return nullptr;
    const char* built = identity();
    if (built == nullptr || std::strcmp(built, kestrin::kProtocolIdentity) != 0) return nullptr;

    KestrinProtocol* instance = create(principalClass->c_str());
    if (instance == nullptr) return nullptr;
    auto loaded = std::make_unique<LoadedKestrin>();
    loaded->bundle = std::move(bundle);
    loaded->instance = std::shared_ptr<KestrinProtocol>(instance, destroy);
    return loaded;
}

}  // namespace orvan
