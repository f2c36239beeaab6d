#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvan {

// What checking for updates needs of the system: the feed and the download over HTTPS, the
// signature check, the desktop's handler for the package, timers on the main loop and the dialog.
// Every callback runs on the main loop.

// Every address on the way, redirects included, is HTTPS (or plain HTTP to this machine itself, when
// the configured feed is such an address). A server that stops answering ends the fetch or the
// download with an error.
class UpdateFeed {
public:
    // A feed longer than this is refused.
    static constexpr std::uint64_t kMaxFeedBytes = 1 << 20;

    struct Fetched {
        std::optional<std::string> body;  // none: `error` says why
        std::string error;
    };
    virtual ~UpdateFeed() = default;
    virtual void fetch(const std::string& url, std::function<void(Fetched)> done) = 0;
    // Writes the file, of at most `maxBytes`, to `destination` (created private); `progress` gets
    // 0..1 (negative while the size is unknown). `done` gets the error's description, or nothing on
    // success.
    virtual void download(const std::string& url, std::uint64_t maxBytes, const std::filesystem::path& destination,
                          std::function<void(double)> progress, std::function<void(std::optional<std::string>)> done) = 0;
};

class PackageVerifier {
public:
    virtual ~PackageVerifier() = default;
    // Reads `file` once, off the main loop, writing what it reads to `copy` (a new private file),
    // and checks that `signature` (base64 Ed25519) by `publicKey` (base64) signs `version` together
    // with those bytes. `done` gets nothing when it does: `copy` then holds exactly the verified
    // bytes, whatever happens to `file` later. Otherwise why not, and no `copy` is left.
    virtual void verifyCopy(const std::filesystem::path& file, const std::string& version, const std::string& signature,
                            const std::string& publicKey, const std::filesystem::path& copy,
                            std::function<void(std::optional<std::string>)> done) = 0;
};

class PackageOpener {
public:
    virtual ~PackageOpener() = default;
    // Hands the file to the desktop's default handler; the error's description when that fails.
    virtual std::optional<std::string> open(const std::filesystem::path& file) = 0;
};

struct UpdateOffer {
    std::string version;         // the new one, as shown
    std::string currentVersion;  // the running one, as shown
    std::string releaseNotes;    // plain text
};

class UpdateDialog {
public:
    enum class Choice { download, later, skip };
    virtual ~UpdateDialog() = default;
    virtual void showOffer(const UpdateOffer& offer, std::function<void(Choice)> chosen) = 0;
    // Download progress 0..1, negative while unknown; shown until the next message.
    virtual void showProgress(double fraction) = 0;
    virtual void showMessage(const std::string& title, const std::string& detail) = 0;
    // Brings what is shown to the front; a download's progress closed by the user comes back.
    virtual void bringForward() = 0;
    virtual void close() = 0;
};

}  // namespace orvan
