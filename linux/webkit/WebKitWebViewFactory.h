#pragma once

#include <filesystem>
#include <memory>

#include <webkit2/webkit2.h>

#include "platform/WebViewFactory.h"
#include "linux/glib/GObjectPtr.h"
#include "linux/webkit/WebKitWebViewAdapter.h"
#include "webhost/RecordingSchemeHandler.h"

namespace orvan {

// Creates every window's web view in one web context, whose website data (cookies, storage, cache)
// persists under the given directories and is shared by all windows.
class WebKitWebViewFactory final : public WebViewFactory {
public:
    // `extensionsDirectory` holds the shell's web-process extension (the page bridge's transport).
    WebKitWebViewFactory(const std::filesystem::path& dataDirectory, const std::filesystem::path& cacheDirectory,
                         const std::filesystem::path& extensionsDirectory);

    // Serves "orvan-rec" in every web view of this factory.
    void serveRecordings(std::shared_ptr<const RecordingSchemeHandler> handler);

    std::shared_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                           std::weak_ptr<WebViewDelegate> delegate) override;

    WebKitWebContext* context() const { return context_.get(); }

    // The engine's standard user agent with `applicationName` in place of its own browser suffix,
    // so that the string ends exactly with the name.
    static std::string userAgent(const std::string& standard, const std::string& applicationName);

private:
    GObjectPtr<WebKitWebsiteDataManager> dataManager_;
    GObjectPtr<WebKitWebContext> context_;
};

// Where the web-process extension lies in the application's bundle.
std::filesystem::path webExtensionsDirectory(const std::filesystem::path& bundleDirectory);

// Where the shell keeps its website data: $XDG_DATA_HOME/OrvanOffice and $XDG_CACHE_HOME/OrvanOffice.
std::filesystem::path applicationDataDirectory();
std::filesystem::path applicationCacheDirectory();

}  // namespace orvan
