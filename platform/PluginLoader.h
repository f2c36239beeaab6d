#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace orvan {

// A plug-in bundle: a folder with an Info.plist and the shared object that it names.
class PluginBundle {
public:
    virtual ~PluginBundle() = default;
    // A string of the bundle's Info.plist; none when missing or not a string.
    virtual std::optional<std::string> infoString(const std::string& key) const = 0;
    // Loads the executable that the Info.plist names; false when it cannot be loaded.
    virtual bool load() = 0;
    // An exported symbol of the loaded executable; null when it has none (or is not loaded).
    virtual void* symbol(const char* name) const = 0;
};

// Opens bundles; the loaded code stays mapped as long as its bundle object lives.
class PluginLoader {
public:
    virtual ~PluginLoader() = default;
    // Null when there is no bundle (no folder, or no readable Info.plist) at `bundle`.
    virtual std::unique_ptr<PluginBundle> open(const std::filesystem::path& bundle) = 0;
};

}  // namespace orvan
