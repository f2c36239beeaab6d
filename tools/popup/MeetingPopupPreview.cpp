// meeting_popup_preview show PHASE [LABEL [MESSAGE]]
//   Shows the panel in one phase, prints "window 0x…" once it is on screen and "action NAME" for
//   each button press, and runs until SIGTERM or SIGINT. The origin is remembered where the tray
//   companion keeps it.
// meeting_popup_preview shots DIRECTORY
//   Saves one PNG per phase (and per interim text) into DIRECTORY, named after it.
#include <glib-unix.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "linux/glib/GLibMainTimers.h"
#include "linux/glib/JsonFileUserDefaults.h"
#include "linux/glib/SyslogSink.h"
#include "linux/gtk/FloatingPanelDisplay.h"
#include "linux/gtk/GtkMeetingPopupPanel.h"
#include "linux/gtk/GtkPrivacySettings.h"
#include "plugin/MeetingPopup.h"

namespace {

using orvan::GtkMeetingPopupPanel;
using orvan::MeetingPopup;

// Timers that only move when told to, so a shot can show the clock at a chosen time (and the
// meters once they have read the levels).
class SteppedTimers final : public orvan::MainTimers {
public:
    std::unique_ptr<orvan::MainTimer> schedule(std::chrono::milliseconds interval, bool repeats,
                                               std::function<void()> fire) override {
        if (repeats) ticks_[interval] = std::move(fire);
        return std::make_unique<Handle>(this, interval);
    }
    void tick(int times, std::chrono::milliseconds interval = std::chrono::seconds(1)) {
        for (int i = 0; i < times && ticks_.count(interval) != 0; ++i) ticks_[interval]();
    }

private:
    struct Handle final : orvan::MainTimer {
        Handle(SteppedTimers* timers, std::chrono::milliseconds every) : owner(timers), interval(every) {}
        ~Handle() override { owner->ticks_.erase(interval); }
        SteppedTimers* owner;
        std::chrono::milliseconds interval;
    };
    std::map<std::chrono::milliseconds, std::function<void()>> ticks_;
};

void settle() {
    while (gtk_events_pending()) gtk_main_iteration();
}

// What the X server shows of the panel, once it has been resized and drawn.
bool savePng(GtkWidget* window, const std::filesystem::path& file) {
    const gint64 until = g_get_monotonic_time() + 400 * 1000;
    while (g_get_monotonic_time() < until) {
        settle();
        g_usleep(20 * 1000);
    }
    GdkWindow* shown = gtk_widget_get_window(window);
    const int width = gdk_window_get_width(shown);
    const int height = gdk_window_get_height(shown);
    GdkPixbuf* pixels = gdk_pixbuf_get_from_window(shown, 0, 0, width, height);
    const bool written = pixels != nullptr && gdk_pixbuf_save(pixels, file.c_str(), "png", nullptr, nullptr) != FALSE;
    if (pixels != nullptr) g_object_unref(pixels);
    std::printf("%s %dx%d\n", file.c_str(), width, height);
    return written;
}

void press(GtkMeetingPopupPanel& panel, const char* title) {
    // The buttons are the last row of the panel's outer box; find the one with this label.
    std::vector<GtkWidget*> open{panel.window()};
    while (!open.empty()) {
        GtkWidget* widget = open.back();
        open.pop_back();
        if (GTK_IS_BUTTON(widget) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(widget)), title) == 0) {
            gtk_button_clicked(GTK_BUTTON(widget));
            return;
        }
        if (GTK_IS_CONTAINER(widget)) {
            GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
            for (GList* child = children; child; child = child->next) open.push_back(GTK_WIDGET(child->data));
            g_list_free(children);
        }
    }
}

// The popup's view factory: a real panel, which `panel` then points at.
auto panelInto(GtkMeetingPopupPanel*& panel) {
    return [&panel]() -> std::unique_ptr<orvan::MeetingPopupView> {
        // On the desktop's Wayland display too, it floats on the XWayland one as in the tray companion.
        GdkDisplay* display = orvan::floatingPanelDisplay();
        if (display == nullptr) return nullptr;
        auto made = std::make_unique<GtkMeetingPopupPanel>(display);
        panel = made.get();
        return made;
    };
}

int shots(const std::filesystem::path& directory) {
    std::filesystem::create_directories(directory);
    auto timers = std::make_shared<SteppedTimers>();
    GtkMeetingPopupPanel* panel = nullptr;
    auto popup = std::make_shared<MeetingPopup>(MeetingPopup::Ports{
        .makeView = panelInto(panel),
        .timers = timers,
        .openSettings = [] {},
        .defaults = nullptr,
    });
    struct Shot {
        const char* name;
        std::function<void()> show;
    };
    orvan::MeetingLevels heard{0.3f, 0.05f};  // a voice near the microphone, a quieter meeting
    popup->levels = [&heard] { return heard; };
    // A recording 12:34 in, its meters having read the levels once, with a warning or without.
    const auto recording = [&](std::optional<std::string> warning, orvan::MeetingLevels levels) {
        heard = levels;
        popup->setWarning(warning);
        popup->show("recording", "Google Meet", std::nullopt);
        timers->tick(754);
        timers->tick(1, MeetingPopup::kMeterInterval);
    };
    const std::vector<Shot> steps = {
        {"1-invite", [&] { popup->show("invite", "Google Meet", std::nullopt); }},
        {"2-starting", [&] { press(*panel, "取る"); }},
        {"3-recording", [&] { recording(std::nullopt, {0.3f, 0.05f}); }},
        {"4-paused", [&] { popup->show("paused", "Google Meet", std::nullopt); }},
        {"5-pause-failed", [&] { popup->show("paused", "Google Meet", "マイクが見つかりません"); }},
        {"6-saving", [&] { popup->show("recording", "Google Meet", std::nullopt); press(*panel, "止めて保存"); }},
        {"7-permission", [&] { popup->show("permission", "", std::nullopt); }},
        {"8-error", [&] { popup->show("error", "Zoom", "マイクの使用が許可されていません"); }},
        {"9-microphone-silent", [&] { recording("マイクの音が届いていません", {0.0f, 0.2f}); }},
        {"10-disk-low", [&] { recording("ディスクの空きが少なくなっています", {0.5f, 0.1f}); }},
        {"11-write-failed", [&] { recording("ディスクに書き込めないため録音を止めました", {0.2f, 0.2f}); }},
    };
    bool ok = true;
    for (const Shot& shot : steps) {
        shot.show();
        ok = savePng(panel->window(), directory / (std::string(shot.name) + ".png")) && ok;
    }
    return ok ? 0 : 1;
}

int show(const std::string& phase, const std::string& label, const std::optional<std::string>& message) {
    GtkMeetingPopupPanel* panel = nullptr;
    auto popup = std::make_shared<MeetingPopup>(MeetingPopup::Ports{
        .makeView = panelInto(panel),
        .timers = std::make_shared<orvan::GLibMainTimers>(),
        .openSettings = &orvan::openPrivacySettings,
        .defaults = std::make_shared<orvan::JsonFileUserDefaults>(
            orvan::JsonFileUserDefaults::defaultFile().parent_path() / "kestrin-popup.json"),
    });
    popup->onAction = [](const std::string& action) {
        std::printf("action %s\n", action.c_str());
        std::fflush(stdout);
    };
    popup->show(phase, label, message);
    if (panel == nullptr) {
        std::fprintf(stderr, "meeting_popup_preview: no X display to float the panel on\n");
        return 1;
    }
    g_signal_connect(panel->window(), "map-event", G_CALLBACK(+[](GtkWidget* window, GdkEvent*, gpointer) -> gboolean {
                         std::printf("window 0x%lx\n", GDK_WINDOW_XID(gtk_widget_get_window(window)));
                         std::fflush(stdout);
                         return FALSE;
                     }), nullptr);
    for (int signal : {SIGTERM, SIGINT})
        g_unix_signal_add(signal, [](gpointer) -> gboolean { gtk_main_quit(); return G_SOURCE_REMOVE; }, nullptr);
    gtk_main();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    orvan::setLogSink(std::make_shared<orvan::SyslogSink>());
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "shots") return shots(args[1]);
    if (args.size() >= 2 && args[0] == "show")
        return show(args[1], args.size() > 2 ? args[2] : "Zoom", args.size() > 3 ? std::optional(args[3]) : std::nullopt);
    std::fprintf(stderr, "usage: meeting_popup_preview show PHASE [LABEL [MESSAGE]] | shots DIRECTORY\n");
    return 2;
}
