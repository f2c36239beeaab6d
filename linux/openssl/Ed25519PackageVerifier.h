#pragma once

#include "platform/UpdatePorts.h"

namespace orvan {

// Ed25519 signatures of downloaded packages, checked with OpenSSL 3.
class Ed25519PackageVerifier final : public PackageVerifier {
public:
    std::optional<std::string> verify(const std::filesystem::path& file, const std::string& signature,
                                      const std::string& publicKey) override;
};

}  // namespace orvan
