// The Kestrin bundle's shared object: the exported protocol identity and principal-class factory,
// and the wiring of the plug-in's logic to its Linux adapters.
#include <dlfcn.h>
#include <unistd.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

#include "linux/dbus/DBusNotificationCenter.h"
#include "linux/dbus/PortalBackgroundLoginItem.h"
#include "linux/dbus/StatusNotifierItem.h"
#include "linux/glib/GLibMainTimers.h"
#include "linux/glib/JsonFileUserDefaults.h"
#include "linux/glib/InstalledCommand.h"
#include "linux/glib/XdgAutostartLoginItem.h"
#include "linux/gtk/FloatingPanelDisplay.h"
#include "linux/gtk/GtkMeetingPopupPanel.h"
#include "linux/gtk/GtkPrivacySettings.h"
#include "linux/gtk/GtkDesktopApplication.h"
#include "linux/glib/SyslogSink.h"
#include "linux/kestrin/DesktopHotKeys.h"
#include "linux/kestrin/UpdaterWiring.h"
#include "linux/glib/GLibMainLoop.h"
#include "linux/proc/ProcRunningProcesses.h"
#include "linux/pulse/PulseRecordingStreams.h"
#include "linux/x11/XcbWindowList.h"
#include "plugin/KestrinPlugin.h"

namespace {

constexpr const char* kApplicationId = "jp.tomoriva.OrvanOffice";

std::filesystem::path bundleFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&bundleFolder), &info) == 0 || info.dli_fname == nullptr) return {};
    return std::filesystem::path(info.dli_fname).parent_path();
}

// The application that loaded us, as installed: what launching at login starts.
std::filesystem::path runningExecutable() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    const char* path = g_getenv("PATH");
    return orvan::installedCommand(executable, path != nullptr ? path : "");
}

// Inside a sandbox the autostart folder is the sandbox's own: the desktop portal is asked
// instead, and what it granted is remembered beside the companion's other settings.
std::shared_ptr<orvan::LoginItem> loginItem() {
    const std::string executable = runningExecutable().string();
    if (!g_file_test("/.flatpak-info", G_FILE_TEST_EXISTS)) {
        return std::make_shared<orvan::XdgAutostartLoginItem>(std::string(kApplicationId) + ".desktop", executable);
    }
    return std::make_shared<orvan::PortalBackgroundLoginItem>(
        orvan::GObjectPtr<GDBusConnection>::take(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)),
        std::vector<std::string>{executable},
        std::make_shared<orvan::JsonFileUserDefaults>(orvan::JsonFileUserDefaults::defaultFile().parent_path() /
                                                      "kestrin-autostart.json"),
        "ログイン時にトモリバを起動するため");
}

GtkApplication* runningApplication() {
    GApplication* application = g_application_get_default();
    return application != nullptr && GTK_IS_APPLICATION(application) ? GTK_APPLICATION(application) : nullptr;
}

// The panel's origin lives in a settings file of the plug-in's own: the application's file is
// rewritten whole by the application's own adapter, which would drop a key written beside it.
orvan::MeetingPopup::Ports meetingPopupPorts() {
    return {
        .makeView = []() -> std::unique_ptr<orvan::MeetingPopupView> {
            GdkDisplay* display = orvan::floatingPanelDisplay();
            if (display == nullptr) return nullptr;
            return std::make_unique<orvan::GtkMeetingPopupPanel>(display);
        },
        .timers = std::make_shared<orvan::GLibMainTimers>(),
        .openSettings = &orvan::openPrivacySettings,
        .defaults = std::make_shared<orvan::JsonFileUserDefaults>(
            orvan::JsonFileUserDefaults::defaultFile().parent_path() / "kestrin-popup.json"),
        // No panel can float (a Wayland desktop without XWayland): offers come as notifications.
        .notices = gdk_display_get_default() != nullptr && orvan::floatingPanelDisplay() == nullptr
                       ? std::make_shared<orvan::DBusNotificationCenter>()
                       : nullptr,
    };
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) const char* kestrin_protocol_identity() {
    return orvan::kestrin::kProtocolIdentity;
}

__attribute__((visibility("default"))) orvan::KestrinProtocol* kestrin_create_principal(const char* principalClass) {
    using orvan::KestrinPlugin;
    if (principalClass == nullptr || std::string_view(principalClass) != KestrinPlugin::kClassName) return nullptr;
    // The bundle has its own copy of the logging code: give it the system log too.
    orvan::setLogSink(std::make_shared<orvan::SyslogSink>());
    auto clock = std::make_shared<orvan::SteadyClock>();
    return new KestrinPlugin(KestrinPlugin::Dependencies{
        .statusBar = std::make_shared<orvan::StatusNotifierBar>(),
        .application = std::make_shared<orvan::GtkDesktopApplication>(&runningApplication),
        .loginItem = loginItem(),
        .resources = bundleFolder() / "Resources",
        .applicationId = kApplicationId,
        .clock = clock,
        .hotKeys = orvan::desktopHotKeys(),
        .makeUpdater = [folder = bundleFolder()] { return orvan::makeUpdateController(folder / "Info.plist"); },
        .meetingSources = {.processes = std::make_shared<orvan::ProcRunningProcesses>(),
                           .windows = std::make_shared<orvan::XcbWindowList>(),
                           .streams = std::make_shared<orvan::PulseRecordingStreams>(clock),
                           .clock = clock,
                           .ownProcessId = static_cast<int>(getpid())},
        .mainLoop = std::make_shared<orvan::GLibMainLoop>(),
        .popup = meetingPopupPorts(),
    });
}

__attribute__((visibility("default"))) void kestrin_destroy_principal(orvan::KestrinProtocol* instance) {
    delete instance;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&kestrin_protocol_identity), orvan::kestrin::ProtocolIdentityFunction>);
static_assert(std::is_same_v<decltype(&kestrin_create_principal), orvan::kestrin::CreateFunction>);
static_assert(std::is_same_v<decltype(&kestrin_destroy_principal), orvan::kestrin::DestroyFunction>);
