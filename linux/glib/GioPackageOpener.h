#pragma once

#include "platform/UpdatePorts.h"

namespace orvan {

// A downloaded package, handed to the desktop's default handler for its type.
class GioPackageOpener final : public PackageOpener {
public:
    std::optional<std::string> open(const std::filesystem::path& file) override;
};

}  // namespace orvan
