#include "linux/plist/DlopenPluginLoader.h"

#include <dlfcn.h>

#include <system_error>

#include "linux/plist/PlistInfoDictionary.h"

namespace orvan {

namespace {

class DlopenBundle final : public PluginBundle {
public:
    explicit DlopenBundle(std::filesystem::path folder) : folder_(std::move(folder)), info_(folder_ / "Info.plist") {}

    std::optional<std::string> infoString(const std::string& key) const override { return info_.stringValue(key); }

    bool load() override {
        if (library_ != nullptr) return true;
        const auto executable = infoString("CFBundleExecutable");
        // The executable lies inside the bundle: a name, never a path.
        if (!executable || executable->empty() || executable->find('/') != std::string::npos) return false;
        // Never closed: the main loop may still call back into a plug-in's code after its objects go.
        library_ = dlopen((folder_ / *executable).c_str(), RTLD_NOW | RTLD_LOCAL);
        return library_ != nullptr;
    }

    void* symbol(const char* name) const override { return library_ != nullptr ? dlsym(library_, name) : nullptr; }

private:
    std::filesystem::path folder_;
    PlistInfoDictionary info_;
    void* library_ = nullptr;
};

}  // namespace

std::unique_ptr<PluginBundle> DlopenPluginLoader::open(const std::filesystem::path& bundle) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(bundle / "Info.plist", error)) return nullptr;
    return std::make_unique<DlopenBundle>(bundle);
}

}  // namespace orvan
