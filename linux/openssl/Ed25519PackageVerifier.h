#pragma once

#include "platform/UpdatePorts.h"

namespace orvan {

// Ed25519 signatures of downloaded packages, checked with OpenSSL 3. The signed message is the
// version, one zero byte and the SHA-512 digest of the package, so a package is read once, in a
// stream (on a GLib worker thread), and a signature never vouches for another version of the same
// bytes.
class Ed25519PackageVerifier final : public PackageVerifier {
public:
    void verifyCopy(const std::filesystem::path& file, const std::string& version, const std::string& signature,
                    const std::string& publicKey, const std::filesystem::path& copy,
                    std::function<void(std::optional<std::string>)> done) override;
};

}  // namespace orvan
