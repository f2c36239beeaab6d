#include "linux/gtk/GtkUpdateDialog.h"

namespace orvan {
namespace {

enum Response { kDownload = 1, kLater = 2, kSkip = 3 };

GtkWidget* boldLabel(const std::string& text) {
    GtkWidget* label = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("<b>%s</b>", text.c_str());
    gtk_label_set_markup(GTK_LABEL(label), markup);
    g_free(markup);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    return label;
}

GtkWidget* plainLabel(const std::string& text) {
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    return label;
}

}  // namespace

GtkUpdateDialog::~GtkUpdateDialog() { close(); }

void GtkUpdateDialog::replace(GtkWidget* window) {
    close();
    window_ = window;
    g_object_add_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer*>(&window_));
    gtk_window_set_title(GTK_WINDOW(window_), "トモリバのアップデート");
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
}

void GtkUpdateDialog::close() {
    progress_ = nullptr;
    progressClosed_ = false;
    if (window_ == nullptr) return;
    GtkWidget* window = window_;
    g_object_remove_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer*>(&window_));
    window_ = nullptr;
    gtk_widget_destroy(window);
}

void GtkUpdateDialog::showOffer(const UpdateOffer& offer, std::function<void(Choice)> chosen) {
    GtkWidget* dialog = gtk_dialog_new();
    gtk_dialog_add_button(GTK_DIALOG(dialog), "このバージョンをスキップ", kSkip);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "あとで", kLater);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "ダウンロード", kDownload);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kDownload);
    GtkWidget* box = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_box_set_spacing(GTK_BOX(box), 8);
    gtk_box_pack_start(GTK_BOX(box), boldLabel("新しいバージョンのトモリバがあります"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box),
                       plainLabel("トモリバ " + offer.version + " が利用できます（お使いのバージョンは " + offer.currentVersion + "）。"),
                       FALSE, FALSE, 0);
    // The notes are plain text in a read-only view: nothing from the feed is rendered as markup.
    GtkWidget* notes = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(notes), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(notes), GTK_WRAP_WORD_CHAR);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(notes)), offer.releaseNotes.c_str(), -1);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_widget_set_size_request(scrolled, 420, 200);
    gtk_container_add(GTK_CONTAINER(scrolled), notes);
    gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
    chosen_ = std::move(chosen);
    g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, gint response, gpointer data) {
                         auto* self = static_cast<GtkUpdateDialog*>(data);
                         auto answer = std::move(self->chosen_);
                         self->chosen_ = nullptr;
                         // Closing the window is "later".
                         const Choice choice = response == kDownload ? Choice::download : response == kSkip ? Choice::skip : Choice::later;
                         if (choice != Choice::download) self->close();
                         if (answer) answer(choice);
                     }),
                     this);
    replace(dialog);
}

void GtkUpdateDialog::showProgress(double fraction) {
    fraction_ = fraction;
    // Closed by the user, the window took the bar with it: the download goes on without showing it.
    if (progress_ != nullptr && window_ == nullptr) {
        progress_ = nullptr;
        progressClosed_ = true;
    }
    if (progressClosed_) return;
    if (progress_ == nullptr) {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
        gtk_container_set_border_width(GTK_CONTAINER(box), 12);
        gtk_box_pack_start(GTK_BOX(box), boldLabel("ダウンロードしています…"), FALSE, FALSE, 0);
        GtkWidget* bar = gtk_progress_bar_new();
        gtk_widget_set_size_request(bar, 320, -1);
        gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        replace(window);
        progress_ = bar;
    }
    if (fraction < 0) gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress_));
    else gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_), fraction);
}

void GtkUpdateDialog::bringForward() {
    if (progressClosed_ || (progress_ != nullptr && window_ == nullptr)) {
        progressClosed_ = false;
        progress_ = nullptr;
        showProgress(fraction_);
        return;
    }
    if (window_ != nullptr) gtk_window_present(GTK_WINDOW(window_));
}

void GtkUpdateDialog::showMessage(const std::string& title, const std::string& detail) {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_INFO, GTK_BUTTONS_OK,
                                               "%s", title.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", detail.c_str());
    g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* shown, gint, gpointer) {
                         gtk_widget_destroy(GTK_WIDGET(shown));
                     }),
                     nullptr);
    replace(dialog);
}

}  // namespace orvan
