#include "linux/webkit/OfficeApplication.h"

#include <glib-unix.h>

#include <csignal>
#include <string>

#include "linux/gtk/GtkApplicationActivator.h"
#include "linux/gtk/GtkDesktopApplication.h"
#include "linux/webkit/OfficeWindow.h"

namespace orvan {

namespace {

std::string primaryAccelerator(char key) {
    return std::string("<Primary>") + static_cast<char>(g_ascii_tolower(key));
}

void setAccelerator(GtkApplication* application, const std::string& action, char key) {
    const std::string accel = primaryAccelerator(key);
    const char* accels[] = {accel.c_str(), nullptr};
    gtk_application_set_accels_for_action(application, action.c_str(), accels);
}

}  // namespace

OfficeApplication::OfficeApplication(ShellServices services)
    : services_(std::move(services)),
      goMenu_(services_.center),
      application_(GObjectPtr<GtkApplication>::take(gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS))) {
    // Docks and task bars group windows under the desktop entry whose name or StartupWMClass
    // matches the window's WM_CLASS (X11) or application id (Wayland, the GApplication id): all
    // three are the application id. Set before GTK starts, which would take the executable's name.
    g_set_prgname(kApplicationId);
    gdk_set_program_class(kApplicationId);
    activator_ = std::make_shared<GtkApplicationActivator>(application_.get());
    // The desktop session's end quits the application (a recording is then closed where it is).
    g_object_set(application_.get(), "register-session", TRUE, nullptr);
    g_application_add_main_option(G_APPLICATION(application_.get()), "toggle", 0, G_OPTION_FLAG_NONE,
                                  G_OPTION_ARG_NONE, "ウインドウを隠す・表示する（⌘⇧O と同じ）", nullptr);
    g_signal_connect(application_.get(), "handle-local-options", G_CALLBACK(&onLocalOptions), this);
    g_signal_connect(application_.get(), "startup", G_CALLBACK(&onStartup), this);
    g_signal_connect(application_.get(), "activate", G_CALLBACK(&onActivate), this);
}

int OfficeApplication::run(int argc, char** argv) {
    return g_application_run(G_APPLICATION(application_.get()), argc, argv);
}

void OfficeApplication::onStartup(GApplication*, gpointer self) {
    auto* app = static_cast<OfficeApplication*>(self);
    // The installed icon (hicolor) for every window, for window managers that show the window's
    // own icon rather than the desktop entry's.
    gtk_window_set_default_icon_name(kApplicationId);
    app->installMenu();
    // Asked to end (a logout without a session manager, a service manager, Ctrl+C in a terminal):
    // the same way out as "終了", never cut off in the middle of writing a recording.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        g_unix_signal_add(signal, +[](gpointer application) -> gboolean {
            closeWindowsAndQuit(GTK_APPLICATION(application));
            return G_SOURCE_CONTINUE;
        }, app->application_.get());
    }
    if (app->delegate_) app->delegate_->didFinishLaunching();
}

// "--toggle" goes to the running instance as its "toggle" action, with the launcher's activation
// token, and this process ends; with none running, the application starts as usual.
gint OfficeApplication::onLocalOptions(GApplication* application, GVariantDict* options, gpointer) {
    if (!g_variant_dict_contains(options, "toggle")) return -1;
    if (!g_application_register(application, nullptr, nullptr) || !g_application_get_is_remote(application)) return -1;
    g_action_group_activate_action(G_ACTION_GROUP(application), "toggle", nullptr);
    return 0;
}

void OfficeApplication::onActivate(GApplication*, gpointer data) {
    auto* self = static_cast<OfficeApplication*>(data);
    openOfficeWindow(self->application_.get(), self->services_);
}

void OfficeApplication::installMenu() {
    GtkApplication* app = application_.get();

    auto* sidebar = g_simple_action_new("collapse-sidebar", nullptr);
    g_signal_connect(sidebar, "activate",
                     G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer menu) { static_cast<GoMenu*>(menu)->collapseSidebar(); }),
                     &goMenu_);
    auto* reload = g_simple_action_new("reload", nullptr);
    g_signal_connect(reload, "activate",
                     G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer menu) { static_cast<GoMenu*>(menu)->reload(); }),
                     &goMenu_);
    auto* go = g_simple_action_new("go", G_VARIANT_TYPE_INT32);
    g_signal_connect(go, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* index, gpointer menu) {
                         static_cast<GoMenu*>(menu)->open(static_cast<std::size_t>(g_variant_get_int32(index)));
                     }),
                     &goMenu_);
    auto* toggle = g_simple_action_new("toggle", nullptr);
    g_signal_connect(toggle, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer self) {
                         auto* owner = static_cast<OfficeApplication*>(self);
                         if (owner->toggle_) owner->toggle_();
                     }),
                     this);
    for (auto* action : {sidebar, reload, go, toggle}) {
        g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(action));
        g_object_unref(action);
    }

    auto menubar = GObjectPtr<GMenu>::take(g_menu_new());

    auto viewMenu = GObjectPtr<GMenu>::take(g_menu_new());
    g_menu_append(viewMenu.get(), GoMenu::collapseSidebarCommand().title.c_str(), "app.collapse-sidebar");
    g_menu_append(viewMenu.get(), GoMenu::reloadCommand().title.c_str(), "app.reload");
    setAccelerator(app, "app.collapse-sidebar", GoMenu::collapseSidebarCommand().key);
    setAccelerator(app, "app.reload", GoMenu::reloadCommand().key);
    g_menu_append_submenu(menubar.get(), "表示", G_MENU_MODEL(viewMenu.get()));

    // Dividers are sections in a GMenu.
    auto goMenu = GObjectPtr<GMenu>::take(g_menu_new());
    GObjectPtr<GMenu> section;
    const auto& items = GoMenu::items();
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (!section || GoMenu::startsGroup(index)) {
            section = GObjectPtr<GMenu>::take(g_menu_new());
            g_menu_append_section(goMenu.get(), nullptr, G_MENU_MODEL(section.get()));
        }
        const std::string detailed = "app.go(" + std::to_string(index) + ")";
        g_menu_append(section.get(), items[index].label.c_str(), detailed.c_str());
        if (items[index].key) setAccelerator(app, detailed, *items[index].key);
    }
    g_menu_append_submenu(menubar.get(), GoMenu::kMenuTitle, G_MENU_MODEL(goMenu.get()));

    gtk_application_set_menubar(app, G_MENU_MODEL(menubar.get()));
}

}  // namespace orvan
