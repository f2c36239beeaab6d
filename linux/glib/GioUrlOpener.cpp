#include "linux/glib/GioUrlOpener.h"

#include <gio/gio.h>

#include "platform/SystemLog.h"

namespace orvan {

void GioUrlOpener::open(const Url& url, std::function<void()> completion) {
    auto* done = new std::function<void()>(std::move(completion));
    g_app_info_launch_default_for_uri_async(
        url.string().c_str(), nullptr, nullptr,
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::function<void()>> callback(static_cast<std::function<void()>*>(data));
            GError* error = nullptr;
            if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
                systemLog(std::string("OrvanOffice: could not open a link: ") + error->message);
                g_error_free(error);
            }
            if (*callback) (*callback)();
        },
        done);
}

}  // namespace orvan
