#pragma once

#include <filesystem>
#include <memory>

#include <webkit2/webkit2.h>

#include "platform/WebAuthenticationSession.h"
#include "linux/glib/GObjectPtr.h"

namespace orvan {

// Sign-in sessions as modal windows over the active window, each with its own web view. The
// sign-in pages keep their cookies (in a store of their own, apart from the application's), so a
// second sign-in remembers the account.
class SignInWindowSessions final : public WebAuthenticationSessions {
public:
    static constexpr const char* kTitle = "サインイン";
    static constexpr const char* kCancelLabel = "キャンセル";
    // Beside the host in the header bar.
    static constexpr const char* kSecure = "安全な接続";
    static constexpr const char* kNotSecure = "保護されていない通信";
    // A load failure inside the sign-in window.
    static constexpr int kLoadFailed = 2;
    // No window to show the sign-in over, or no display.
    static constexpr int kPresentationFailed = 3;

    explicit SignInWindowSessions(const std::filesystem::path& dataDirectory);

    std::shared_ptr<WebAuthenticationSession> create(const Url& url, const std::string& callbackHost,
                                                     const std::string& callbackPath,
                                                     std::function<void(WebAuthenticationResult)> completion) override;

    // The sign-in window currently shown, for tests.
    static GtkWindow* currentWindow();

private:
    WebKitWebContext* context();

    std::filesystem::path dataDirectory_;
    GObjectPtr<WebKitWebsiteDataManager> dataManager_;
    GObjectPtr<WebKitWebContext> context_;
};

}  // namespace orvan
