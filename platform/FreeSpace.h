#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace orvan {

// How much the file system holding a path can still take.
class FreeSpace {
public:
    virtual ~FreeSpace() = default;
    // Bytes an ordinary user may still write there; none when the system cannot say.
    virtual std::optional<std::uint64_t> availableBytes(const std::filesystem::path& path) = 0;
};

}  // namespace orvan
