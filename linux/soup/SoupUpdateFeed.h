#pragma once

#include <memory>

#include "platform/UpdatePorts.h"

typedef struct _SoupSession SoupSession;

namespace orvan {

// The update feed and its downloads over libsoup 3. Only HTTPS is used, except plain HTTP to this
// machine itself (a local test server); any other address, also one a redirect names, is refused
// before a request is made.
class SoupUpdateFeed final : public UpdateFeed {
public:
    SoupUpdateFeed();
    ~SoupUpdateFeed() override;
    void fetch(const std::string& url, std::function<void(Fetched)> done) override;
    void download(const std::string& url, std::uint64_t maxBytes, const std::filesystem::path& destination,
                  std::function<void(double)> progress, std::function<void(std::optional<std::string>)> done) override;

    // Nothing when `url` may be used; otherwise why not.
    static std::optional<std::string> refusal(const std::string& url);

private:
    SoupSession* session_;
};

}  // namespace orvan
