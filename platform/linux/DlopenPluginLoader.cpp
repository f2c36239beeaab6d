#include "platform/linux/DlopenPluginLoader.h"

#include <dlfcn.h>

#include <cstring>
#include <system_error>

#include "platform/linux/PlistInfoDictionary.h"

namespace orvan {

std::shared_ptr<void> DlopenPluginLoader::load(const std::filesystem::path& bundle) {
    std::error_code error;
    if (!std::filesystem::is_directory(bundle, error)) return nullptr;
    const auto executable = PlistInfoDictionary(bundle / "Info.plist").stringValue("CFBundleExecutable");
    if (!executable || executable->empty() || executable->find('/') != std::string::npos) return nullptr;

    void* library = dlopen((bundle / *executable).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    using ProtocolFunction = const char* (*)();
    using CreateFunction = void* (*)();
    using DestroyFunction = void (*)(void*);
    auto protocol = reinterpret_cast<ProtocolFunction>(dlsym(library, kProtocolSymbol));
    auto create = reinterpret_cast<CreateFunction>(dlsym(library, kFactorySymbol));
    auto destroy = reinterpret_cast<DestroyFunction>(dlsym(library, kDestroySymbol));
    if (protocol == nullptr || create == nullptr || destroy == nullptr ||
        std::strcmp(protocol(), kProtocolIdentity) != 0) {
        dlclose(library);
        return nullptr;
    }
    void* instance = create();
    if (instance == nullptr) {
        dlclose(library);
        return nullptr;
    }
    // The instance lives for the rest of the process; the library stays loaded with it.
    return std::shared_ptr<void>(instance, [destroy](void* object) { destroy(object); });
}

}  // namespace orvan
