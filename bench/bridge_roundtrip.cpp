// Page → native → reply round trips: 2100 trivial commands through the shell's bridge (page world →
// relay world → dispatcher → reply) against a bare WebKitGTK echo handler in the default world,
// in the same run, in 21 interleaved blocks of 100 each. Prints both times and their ratio. Needs a display (tools/test-env.sh).
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/Uuid.h"
#include "macshell/MacShell.h"
#include "linux/dbus/DBusNotificationCenter.h"
#include "linux/glib/GLibMainLoop.h"
#include "linux/glib/GioUrlOpener.h"
#include "linux/webkit/OfficeWindow.h"
#include "webhost/OfficeWebView.h"
#include "linux/webkit/WebKitWebViewFactory.h"
#include "recording/RecorderCommands.h"

namespace {

constexpr int kBlocks = 21;
constexpr int kRoundTrips = 2100;
constexpr int kBlockRoundTrips = kRoundTrips / kBlocks;
constexpr const char* kBase = "http://127.0.0.1:1/";
constexpr const char* kPage = "<!doctype html><title>bench</title>";

// Runs `loop` (an async function body returning elapsed milliseconds) in the page and waits.
double timeInPage(WebKitWebView* view, const std::string& body) {
    double elapsed = -1;
    bool done = false;
    struct Out {
        double* elapsed;
        bool* done;
    } out{&elapsed, &done};
    webkit_web_view_call_async_javascript_function(
        view, body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* o = static_cast<Out*>(data);
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value != nullptr) {
                *o->elapsed = jsc_value_to_double(value);
                g_object_unref(value);
            } else {
                std::fprintf(stderr, "script failed: %s\n", error->message);
                g_error_free(error);
            }
            *o->done = true;
        },
        &out);
    while (!done) g_main_context_iteration(nullptr, TRUE);
    return elapsed;
}

void waitForLoad(WebKitWebView* view) {
    while (webkit_web_view_is_loading(view) || webkit_web_view_get_uri(view) == nullptr) {
        g_main_context_iteration(nullptr, TRUE);
    }
}

std::string loop(const std::string& call) {
    return "const start = performance.now(); for (let i = 0; i < " + std::to_string(kBlockRoundTrips) +
           "; i++) { await " + call + "; } return performance.now() - start;";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvan;
    gtk_init(&argc, &argv);

    // The shell's bridge, built as the shell builds it.
    ShellServices services;
    services.mainLoop = std::make_shared<GLibMainLoop>();
    services.center = NotificationCenter::create(*services.mainLoop);
    services.config = std::make_shared<AppConfig>(nullptr);
    services.registry = std::make_shared<CoordinatorRegistry>();
    services.push = std::make_shared<PushNotifications>(services.center);
    services.webViewFactory = std::make_shared<WebKitWebViewFactory>(
        applicationDataDirectory(), applicationCacheDirectory(), webExtensionsDirectory(ORVAN_BUNDLE_DIR));
    services.dispatcher = std::make_shared<CommandDispatcher>(CommandPorts{
        .recorder = std::make_shared<NotRecordingRecorder>(),
        .macShell = std::make_shared<MacShell>(std::filesystem::path(), nullptr),
        .notifications = std::make_shared<DBusNotificationCenter>(),
        .opener = std::make_shared<GioUrlOpener>(),
        .signIn = nullptr,
        .newUUID = randomUUID,
    });
    // The page is loaded from memory on the app origin, so no server is involved.
    const OfficeWebView content(*Url::parse(kBase), services.webHostContext());
    auto coordinator = content.makeCoordinator();
    auto webView = content.makeUIView(*coordinator, *services.webViewFactory);
    auto* shellView = dynamic_cast<WebKitWebViewAdapter&>(*webView).view();
    webkit_web_view_stop_loading(shellView);
    webkit_web_view_load_html(shellView, kPage, kBase);
    waitForLoad(shellView);

    // The reference: a handler in the default world that answers at once.
    WebKitUserContentManager* manager = webkit_user_content_manager_new();
    webkit_user_content_manager_register_script_message_handler_with_reply(manager, "echo", nullptr);
    g_signal_connect(manager, "script-message-with-reply-received::echo",
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* body, WebKitScriptMessageReply* reply, gpointer) {
                         webkit_script_message_reply_return_value(reply, body);
                         return TRUE;
                     }),
                     nullptr);
    auto* bareView = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager, nullptr));
    g_object_ref_sink(bareView);
    webkit_web_view_load_html(bareView, kPage, kBase);
    waitForLoad(bareView);

    // Warm both paths, then measure.
    timeInPage(shellView, "for (let i = 0; i < 50; i++) await window.orvanMobile.discardRecording(); return 0;");
    timeInPage(bareView, "for (let i = 0; i < 50; i++) await window.webkit.messageHandlers.echo.postMessage({ cmd: 'x' }); return 0;");
    // Interleaved blocks, so a busy moment of the machine hits both alike.
    // The ratio is the median of the blocks' ratios, which a burst of other work in one block
    // does not move.
    double shell = 0;
    double bare = 0;
    std::vector<double> ratios;
    for (int block = 0; block < kBlocks; ++block) {
        const double shellBlock = timeInPage(shellView, loop("window.orvanMobile.discardRecording()"));
        const double bareBlock = timeInPage(bareView, loop("window.webkit.messageHandlers.echo.postMessage({ cmd: 'discard' })"));
        shell += shellBlock;
        bare += bareBlock;
        if (shellBlock > 0 && bareBlock > 0) ratios.push_back(shellBlock / bareBlock);
    }
    std::sort(ratios.begin(), ratios.end());
    const double ratio = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];

    std::printf("%d round trips through the shell bridge: %.0f ms (%.3f ms each)\n", kRoundTrips, shell, shell / kRoundTrips);
    std::printf("%d round trips through a bare echo handler: %.0f ms (%.3f ms each)\n", kRoundTrips, bare, bare / kRoundTrips);
    std::printf("ratio (bridge / bare), median of %d blocks: %.2f\n", kBlocks, ratio);

    g_object_unref(bareView);
    g_object_unref(manager);
    return shell > 0 && bare > 0 ? 0 : 1;
}
