#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainTimers.h"
#include "platform/UpdatePorts.h"
#include "platform/UserDefaults.h"
#include "plugin/Appcast.h"

namespace orvan {

// Checks the update feed by itself (shortly after start, then once a day, remembered across
// launches) and when the user asks; offers a newer version, downloads it with progress (never more
// than the feed said it takes, nor more than kMaxPackageBytes), verifies its signature over version
// and bytes and hands a private copy of the verified bytes to the desktop. Main loop only.
class UpdateController final : public std::enable_shared_from_this<UpdateController> {
public:
    static constexpr std::chrono::seconds kFirstCheckDelay{60};
    static constexpr std::chrono::seconds kCheckInterval{24 * 60 * 60};
    static constexpr const char* kLastCheckKey = "update.lastCheck";
    static constexpr const char* kSkippedVersionKey = "update.skippedVersion";
    // The most a package may take, whatever the feed says: a longer declared length is refused, and
    // a download without one is cut off here.
    static constexpr std::uint64_t kMaxPackageBytes = 300'000'000;

    struct Settings {
        std::string feedUrl;
        std::string publicKey;  // base64 Ed25519
        bool automaticChecks = true;
        std::string currentVersion;
    };
    struct Ports {
        std::shared_ptr<UpdateFeed> feed;
        std::shared_ptr<PackageVerifier> verifier;
        std::shared_ptr<PackageOpener> opener;
        std::shared_ptr<UpdateDialog> dialog;
        std::shared_ptr<MainTimers> timers;
        std::shared_ptr<UserDefaults> defaults;
        std::function<std::int64_t()> now;  // wall-clock seconds
        std::filesystem::path downloads;
    };

    UpdateController(Settings settings, Ports ports);

    // Starts the automatic checks (when the settings allow them).
    void startUpdater();
    // The user asked: every outcome is shown, also "up to date" and a feed that cannot be read.
    void checkForUpdates();

private:
    void check(bool userInitiated);
    void checked(bool userInitiated, UpdateFeed::Fetched fetched);
    void failed(bool userInitiated, const std::string& title, const std::string& detail);
    void offer(const AppcastItem& item);
    void download(const AppcastItem& item);
    void downloaded(const AppcastItem& item, const std::filesystem::path& file, std::optional<std::string> error);
    void verified(const AppcastItem& item, const std::filesystem::path& copy, std::optional<std::string> refused);
    void scheduleNext();

    Settings settings_;
    Ports ports_;
    std::unique_ptr<MainTimer> timer_;
    bool busy_ = false;  // a check or a download (with its verification) runs: a second one waits for it
    bool askedMeanwhile_ = false;  // the user asked while it ran
};

}  // namespace orvan
