#include "linux/webkit/OfficeWindow.h"

#include "linux/webkit/WebKitWebViewAdapter.h"
#include "webhost/OfficeWebView.h"

namespace orvan {

namespace {

constexpr const char* kContentKey = "orvan-window-content";

struct WindowContent {
    std::shared_ptr<Coordinator> coordinator;
    std::shared_ptr<WebView> webView;
};

}  // namespace

GtkWindow* openOfficeWindow(GtkApplication* application, const ShellServices& services) {
    GtkWidget* window = application != nullptr ? gtk_application_window_new(application)
                                                : gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), kDefaultWindowWidth, kDefaultWindowHeight);
    gtk_window_set_title(GTK_WINDOW(window), "OrvanOffice");

    const OfficeWebView content(services.config->appURL(), services.webHostContext());
    auto coordinator = content.makeCoordinator();
    auto webView = content.makeUIView(*coordinator, *services.webViewFactory);
    if (auto* adapter = dynamic_cast<WebKitWebViewAdapter*>(webView.get())) {
        gtk_container_add(GTK_CONTAINER(window), adapter->widget());
        gtk_widget_show(adapter->widget());
        if (services.afterFirstPage) services.afterFirstPage->watch(adapter->view());
    }

    // The content lives exactly as long as the window.
    g_object_set_data_full(G_OBJECT(window), kContentKey, new WindowContent{coordinator, webView},
                           [](gpointer data) { delete static_cast<WindowContent*>(data); });
    // Release the web view and coordinator when the window closes, not when the last reference to
    // the GtkWindow object happens to go.
    g_signal_connect(window, "destroy",
                     G_CALLBACK(+[](GtkWidget* widget, gpointer) { g_object_set_data(G_OBJECT(widget), kContentKey, nullptr); }),
                     nullptr);
    gtk_window_present(GTK_WINDOW(window));
    return GTK_WINDOW(window);
}

std::shared_ptr<Coordinator> coordinatorOfWindow(GtkWindow* window) {
    auto* content = static_cast<WindowContent*>(g_object_get_data(G_OBJECT(window), kContentKey));
    return content != nullptr ? content->coordinator : nullptr;
}

}  // namespace orvan
