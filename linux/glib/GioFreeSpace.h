#pragma once

#include "platform/FreeSpace.h"

namespace orvan {

// The file system's free space as GIO reports it (statvfs: the blocks an ordinary user may use).
class GioFreeSpace final : public FreeSpace {
public:
    std::optional<std::uint64_t> availableBytes(const std::filesystem::path& path) override;
};

}  // namespace orvan
