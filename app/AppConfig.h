#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/Url.h"
#include "platform/InfoDictionary.h"

namespace orvan {

// Which web application the windows show and which hosts count as the application's own.
class AppConfig {
public:
    static constexpr const char* kAppURLKey = "OrvanAppURL";
    static constexpr const char* kProductionOrigin = "https://app.tomoriva.jp";
    static constexpr const char* kPreviewHost = "preview.tomoriva.jp";
    static constexpr const char* kIdentitySignInHost = "accounts.google.com";
    static constexpr const char* kIdentityVideoAccountHost = "accounts.youtube.com";
    static constexpr const char* kIdentityMainDomain = "google.com";
    static constexpr const char* kAuthBackendSuffix = ".supabase.co";

    explicit AppConfig(std::shared_ptr<const InfoDictionary> info);

    // "OrvanAppURL" from the Info.plist when it parses, else the production origin.
    Url appURL() const;
    // The production host and the preview deployment host, lower case.
    static const std::set<std::string>& trustedHosts();
    // Whether a navigation to `host` stays inside the web view.
    bool staysInWebView(const std::optional<std::string>& host) const;
    // A path or link from outside turned into a loadable https URL on a trusted host.
    std::optional<Url> internalURL(std::string_view text) const;

private:
    std::shared_ptr<const InfoDictionary> info_;
};

}  // namespace orvan
