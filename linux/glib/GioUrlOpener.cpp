#include "linux/glib/GioUrlOpener.h"

#include <gio/gio.h>

#include <memory>

#include "linux/glib/DesktopHandlerLaunch.h"
#include "platform/SystemLog.h"

namespace orvan {
namespace {

using Completion = std::function<void()>;

void logFailure(GError* error) {
    systemLog(std::string("OrvanOffice: could not open a link: ") + error->message);
    g_error_free(error);
}

}  // namespace

void GioUrlOpener::open(const Url& url, std::function<void()> completion) {
    auto* done = new Completion(std::move(completion));
    if (const auto handler = defaultHandler(url.string())) {
        GError* error = nullptr;
        if (!launchAsUser(handler.get(), url.string(), &error)) logFailure(error);
        // Later, as when GIO finds the handler itself: the caller is never called back from inside open().
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) {
                if (auto& callback = *static_cast<Completion*>(data)) callback();
                return G_SOURCE_REMOVE;
            },
            done, [](gpointer data) { delete static_cast<Completion*>(data); });
        return;
    }
    // No handler here: GIO's own way, through the desktop portal inside a sandbox.
    g_app_info_launch_default_for_uri_async(
        url.string().c_str(), nullptr, nullptr,
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Completion> callback(static_cast<Completion*>(data));
            GError* error = nullptr;
            if (!g_app_info_launch_default_for_uri_finish(result, &error)) logFailure(error);
            if (*callback) (*callback)();
        },
        done);
}

}  // namespace orvan
