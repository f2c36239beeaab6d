// The fallback alert as a real GTK dialog over the application's window.
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "linux/gtk/GtkAlertPresenter.h"
#include "linux/gtk/GtkUpdateDialog.h"
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

std::string property(GtkMessageDialog* dialog, const char* name) {
    gchar* value = nullptr;
    g_object_get(dialog, name, &value, nullptr);
    std::string text = value != nullptr ? value : "";
    g_free(value);
    return text;
}

class GtkAlertPresenterTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Dialogs go with the window they are over.
        if (window != nullptr) gtk_widget_destroy(GTK_WIDGET(window));
        while (!messageDialogs().empty()) gtk_widget_destroy(GTK_WIDGET(messageDialogs().front()));
        spin(std::chrono::milliseconds(50));
    }

    GtkWindow* openWindow() {
        window = GTK_WINDOW(gtk_application_window_new(testApplication()));
        gtk_widget_show_all(GTK_WIDGET(window));
        gtk_window_present(window);
        runUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(window)) == TRUE; });
        return window;
    }

    GtkWindow* window = nullptr;
    GtkAlertPresenter presenter{[] { return testApplication(); }};
};

TEST_F(GtkAlertPresenterTest, TheAlertIsAModalDialogOverTheWindowNotAPopupAndASecondGoesOverTheFirst) {
    openWindow();
    // A menu or tooltip: transient for the window, but not a dialog.
    GtkWidget* popup = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_set_transient_for(GTK_WINDOW(popup), window);
    gtk_widget_show(popup);
    presenter.present("マイクだけで録音しています", "相手の声は入りません。");
    ASSERT_TRUE(runUntil([] { return messageDialogs().size() == 1; }, std::chrono::milliseconds(5000)));
    GtkMessageDialog* first = messageDialogs()[0];
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(first)), window);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(first)));
    EXPECT_EQ(property(first, "text"), "マイクだけで録音しています");
    EXPECT_EQ(property(first, "secondary-text"), "相手の声は入りません。");
    gtk_widget_destroy(popup);

    presenter.present("二つ目", "b");
    ASSERT_TRUE(runUntil([] { return messageDialogs().size() == 2; }, std::chrono::milliseconds(5000)));
    GtkMessageDialog* second = messageDialogs()[0] == first ? messageDialogs()[1] : messageDialogs()[0];
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(second)), GTK_WINDOW(first));

    // Shown without waiting for the answer; answering closes it.
    gtk_dialog_response(GTK_DIALOG(second), GTK_RESPONSE_OK);
    EXPECT_TRUE(runUntil([] { return messageDialogs().size() == 1; }, std::chrono::milliseconds(5000)));
}

TEST_F(GtkAlertPresenterTest, WithoutAWindowOrAnApplicationNothingIsShown) {
    presenter.present("マイクだけで録音しています", "x");
    GtkAlertPresenter noApplication([] { return static_cast<GtkApplication*>(nullptr); });
    noApplication.present("マイクだけで録音しています", "x");
    spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(messageDialogs().empty());
}

// The fraction the update's progress window shows, while it shows.
std::optional<double> progressShown(bool close = false) {
    std::optional<double> fraction;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        if (!gtk_widget_get_visible(GTK_WIDGET(item->data)) || GTK_IS_DIALOG(item->data)) continue;
        GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(item->data))));
        for (GList* child = children; child != nullptr; child = child->next)
            if (GTK_IS_PROGRESS_BAR(child->data)) fraction = gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(child->data));
        g_list_free(children);
        if (fraction && close) gtk_window_close(GTK_WINDOW(item->data));  // as its close button does
    }
    g_list_free(toplevels);
    return fraction;
}

TEST(GtkUpdateDialogTest, AProgressWindowTheUserClosedIsLeftAloneUntilAskedFor) {
    GtkUpdateDialog dialog;
    dialog.showProgress(0.1);
    ASSERT_EQ(progressShown(true), 0.1);
    ASSERT_TRUE(runUntil([] { return !progressShown(); }));
    dialog.showProgress(0.5);
    spin(std::chrono::milliseconds(50));
    EXPECT_FALSE(progressShown()) << "the download goes on without it";
    dialog.bringForward();
    EXPECT_EQ(progressShown(), 0.5) << "asked for, it comes back where the download is";
    dialog.close();
}

}  // namespace
}  // namespace orvan
