#include "linux/gtk/GtkAlertPresenter.h"

namespace orvan {

namespace {

// A dialog shown over `window` (an earlier alert, say) is where the user is looking: the top-most of
// that chain.
GtkWindow* topmostOver(GtkWindow* window) {
    GList* toplevels = gtk_window_list_toplevels();
    for (bool found = true; found;) {
        found = false;
        for (GList* item = toplevels; item != nullptr; item = item->next) {
            auto* candidate = GTK_WINDOW(item->data);
            // Dialogs only: menus and tooltips are transient for the window too, and go at any moment.
            if (candidate != window && gtk_window_get_transient_for(candidate) == window &&
                gtk_window_get_window_type(candidate) == GTK_WINDOW_TOPLEVEL && gtk_window_get_modal(candidate) &&
                gtk_widget_get_visible(GTK_WIDGET(candidate))) {
                window = candidate;
                found = true;
                break;
            }
        }
    }
    g_list_free(toplevels);
    return window;
}

}  // namespace

void GtkAlertPresenter::present(const std::string& title, const std::string& message) {
    GtkApplication* application = application_ ? application_() : nullptr;
    if (application == nullptr) return;
    // The window the user last worked in, whether or not the desktop has given it the focus right now:
    // the alert answers what the user just did there.
    GtkWindow* window = gtk_application_get_active_window(application);
    if (window == nullptr) return;
    window = topmostOver(window);
    GtkWidget* dialog = gtk_message_dialog_new(window, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                               GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE, "%s", title.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", message.c_str());
    // Our own label: the toolkit's stock button would be translated and carry a mnemonic.
    gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace orvan
