#include "linux/webkit/WebKitWebViewFactory.h"

#include "linux/webkit/RecordingSchemeAdapter.h"
#include "platform/PrivateFiles.h"

namespace orvan {

namespace {
constexpr const char* kApplicationFolder = "OrvanOffice";
}

std::filesystem::path applicationDataDirectory() {
    return std::filesystem::path(g_get_user_data_dir()) / kApplicationFolder;
}

std::filesystem::path webExtensionsDirectory(const std::filesystem::path& bundleDirectory) {
    return bundleDirectory / "Frameworks" / "WebExtensions";
}

std::filesystem::path applicationCacheDirectory() {
    return std::filesystem::path(g_get_user_cache_dir()) / kApplicationFolder;
}

WebKitWebViewFactory::WebKitWebViewFactory(const std::filesystem::path& dataDirectory,
                                           const std::filesystem::path& cacheDirectory,
                                           const std::filesystem::path& extensionsDirectory) {
    const auto webData = dataDirectory / "webkit";
    const auto webCache = cacheDirectory / "webkit";
    dataManager_ = GObjectPtr<WebKitWebsiteDataManager>::take(webkit_website_data_manager_new(
        "base-data-directory", webData.c_str(), "base-cache-directory", webCache.c_str(), nullptr));
    context_ = GObjectPtr<WebKitWebContext>::take(
        webkit_web_context_new_with_website_data_manager(dataManager_.get()));
    webkit_web_context_set_web_extensions_directory(context_.get(), extensionsDirectory.c_str());
    // Keep the sign-in session across restarts, as a browser does.
    const auto cookies = webData / "cookies.sqlite";
    // Made before the engine makes them: its folders would be readable by others.
    (void)private_files::createDirectories(webData);
    (void)private_files::createDirectories(webCache);
    webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(dataManager_.get()),
                                                 cookies.c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
}

void WebKitWebViewFactory::serveRecordings(std::shared_ptr<const RecordingSchemeHandler> handler) {
    registerRecordingScheme(context_.get(), std::move(handler));
}

std::string WebKitWebViewFactory::userAgent(const std::string& standard, const std::string& applicationName) {
    constexpr std::string_view kEngineMarker = "(KHTML, like Gecko)";
    const auto marker = standard.find(kEngineMarker);
    const std::string base = marker == std::string::npos ? standard : standard.substr(0, marker + kEngineMarker.size());
    return base + " " + applicationName;
}

std::shared_ptr<WebView> WebKitWebViewFactory::createWebView(const WebViewConfiguration& configuration,
                                                             std::weak_ptr<WebViewDelegate> delegate) {
    auto settings = GObjectPtr<WebKitSettings>::take(webkit_settings_new());
    webkit_settings_set_media_playback_allows_inline(settings.get(), TRUE);
    webkit_settings_set_media_playback_requires_user_gesture(settings.get(), FALSE);
    // The meeting-notes page records from the microphone in the page too.
    webkit_settings_set_enable_media_stream(settings.get(), TRUE);
    const std::string standard = webkit_settings_get_user_agent(settings.get());
    const std::string agent = userAgent(standard, configuration.userAgentApplicationName);
    webkit_settings_set_user_agent(settings.get(), agent.c_str());

    auto contentManager = GObjectPtr<WebKitUserContentManager>::take(webkit_user_content_manager_new());
    // The extension gives the relay in this world its one posting function (read when the web
    // process starts, with the first view).
    webkit_web_context_set_web_extensions_initialization_user_data(
        context_.get(), g_variant_new_string(configuration.messageWorld.c_str()));
    for (const auto& script : configuration.userScripts) {
        WebKitUserScript* userScript =
            script.world.empty()
                ? webkit_user_script_new(script.source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                         WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr)
                : webkit_user_script_new_for_world(script.source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                   WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                                                   script.world.c_str(), nullptr, nullptr);
        webkit_user_content_manager_add_script(contentManager.get(), userScript);
        webkit_user_script_unref(userScript);
    }
    auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(), "settings",
                                              settings.get(), "user-content-manager", contentManager.get(),
                                              nullptr));
    return std::make_shared<WebKitWebViewAdapter>(view, std::move(delegate), configuration.messageChannels);
}

}  // namespace orvan
