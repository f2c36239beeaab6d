#pragma once

#include <chrono>
#include <memory>

#include "platform/UpdatePorts.h"

typedef struct _SoupSession SoupSession;

namespace orvan {

// The update feed and its downloads over libsoup 3. Only HTTPS is used, except plain HTTP to this
// machine itself when the configured feed is such an address (a local test server); any other
// address, also one a redirect or the feed names, is refused before a request is made. A server
// silent for `stallTimeout` ends the check or download with that error.
class SoupUpdateFeed final : public UpdateFeed {
public:
    static constexpr std::chrono::seconds kStallTimeout{30};

    explicit SoupUpdateFeed(const std::string& feedUrl, std::chrono::seconds stallTimeout = kStallTimeout);
    ~SoupUpdateFeed() override;
    SoupUpdateFeed(const SoupUpdateFeed&) = delete;
    SoupUpdateFeed& operator=(const SoupUpdateFeed&) = delete;
    void fetch(const std::string& url, std::function<void(Fetched)> done) override;
    void download(const std::string& url, std::uint64_t maxBytes, const std::filesystem::path& destination,
                  std::function<void(double)> progress, std::function<void(std::optional<std::string>)> done) override;

private:
    unsigned timeoutSeconds_;
    bool plainAllowed_;
    SoupSession* session_;
};

}  // namespace orvan
