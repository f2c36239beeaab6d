// The fallback alert as a real GTK dialog over the application's window.
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linux/gtk/GtkAlertPresenter.h"
#include "tests/integration/GtkTestSupport.h"

namespace orvan {
namespace {

using namespace orvan::testing;

std::vector<GtkMessageDialog*> messageDialogs() {
    std::vector<GtkMessageDialog*> found;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        if (GTK_IS_MESSAGE_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
            found.push_back(GTK_MESSAGE_DIALOG(item->data));
        }
    }
    g_list_free(toplevels);
    return found;
}

void collectButtons(GtkWidget* widget, std::vector<std::string>* labels) {
    if (GTK_IS_BUTTON(widget)) {
        const char* label = gtk_button_get_label(GTK_BUTTON(widget));
        labels->push_back(label != nullptr ? label : "");
        return;
    }
    if (!GTK_IS_CONTAINER(widget)) return;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* child = children; child != nullptr; child = child->next) collectButtons(GTK_WIDGET(child->data), labels);
    g_list_free(children);
}

std::string property(GtkMessageDialog* dialog, const char* name) {
    gchar* value = nullptr;
    g_object_get(dialog, name, &value, nullptr);
    std::string text = value != nullptr ? value : "";
    g_free(value);
    return text;
}

class GtkAlertPresenterTest : public ::testing::Test {
protected:
    // One for the whole run: GTK lets a process register only one application.
    static GtkApplication* sharedApplication() {
        static GtkApplication* application = [] {
            GtkApplication* made = gtk_application_new("jp.tomoriva.OrvanOffice.AlertTest", G_APPLICATION_NON_UNIQUE);
            GError* error = nullptr;
            if (!g_application_register(G_APPLICATION(made), nullptr, &error)) {
                ADD_FAILURE() << "cannot register: " << (error != nullptr ? error->message : "");
                g_clear_error(&error);
            }
            return made;
        }();
        return application;
    }

    void TearDown() override {
        // Dialogs go with the window they are over.
        if (window != nullptr) gtk_widget_destroy(GTK_WIDGET(window));
        while (!messageDialogs().empty()) gtk_widget_destroy(GTK_WIDGET(messageDialogs().front()));
        spin(std::chrono::milliseconds(50));
    }

    GtkWindow* openWindow() {
        window = GTK_WINDOW(gtk_application_window_new(sharedApplication()));
        gtk_widget_show_all(GTK_WIDGET(window));
        gtk_window_present(window);
        runUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(window)) == TRUE; });
        return window;
    }

    GtkWindow* window = nullptr;
    GtkAlertPresenter presenter{[] { return sharedApplication(); }};
};

TEST_F(GtkAlertPresenterTest, TheAlertIsAModalDialogOverTheWindowWithOneOkButtonAndClosesWhenAnswered) {
    openWindow();
    presenter.present("マイクだけで録音しています", "相手の声は入りません。");
    ASSERT_TRUE(runUntil([] { return messageDialogs().size() == 1; }, std::chrono::milliseconds(5000)));
    GtkMessageDialog* dialog = messageDialogs()[0];
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), window);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    EXPECT_EQ(property(dialog, "text"), "マイクだけで録音しています");
    EXPECT_EQ(property(dialog, "secondary-text"), "相手の声は入りません。");
    std::vector<std::string> buttons;
    collectButtons(GTK_WIDGET(dialog), &buttons);
    EXPECT_EQ(buttons, std::vector<std::string>{"OK"});

    // Shown without waiting for the answer; answering closes it.
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    EXPECT_TRUE(runUntil([] { return messageDialogs().empty(); }, std::chrono::milliseconds(5000)));
}

TEST_F(GtkAlertPresenterTest, ASecondAlertGoesOverTheFirst) {
    openWindow();
    presenter.present("一つ目", "a");
    ASSERT_TRUE(runUntil([] { return messageDialogs().size() == 1; }, std::chrono::milliseconds(5000)));
    GtkMessageDialog* first = messageDialogs()[0];
    presenter.present("二つ目", "b");
    ASSERT_TRUE(runUntil([] { return messageDialogs().size() == 2; }, std::chrono::milliseconds(5000)));
    for (auto* dialog : messageDialogs()) {
        if (dialog == first) continue;
        EXPECT_EQ(property(dialog, "text"), "二つ目");
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), GTK_WINDOW(first));
    }
}

TEST_F(GtkAlertPresenterTest, APopupOverTheWindowIsNotWhereTheAlertGoes) {
    openWindow();
    // A menu or tooltip: transient for the window, but not a dialog.
    GtkWidget* popup = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_set_transient_for(GTK_WINDOW(popup), window);
    gtk_widget_show(popup);
    presenter.present("マイクだけで録音しています", "x");
    ASSERT_TRUE(runUntil([] { return messageDialogs().size() == 1; }, std::chrono::milliseconds(5000)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(messageDialogs()[0])), window);
    gtk_widget_destroy(popup);
}

TEST_F(GtkAlertPresenterTest, WithoutAWindowOrAnApplicationNothingIsShown) {
    presenter.present("マイクだけで録音しています", "x");
    GtkAlertPresenter noApplication([] { return static_cast<GtkApplication*>(nullptr); });
    noApplication.present("マイクだけで録音しています", "x");
    spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(messageDialogs().empty());
}

}  // namespace
}  // namespace orvan
