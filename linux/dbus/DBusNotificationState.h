#pragma once

// The notification centre's state, shared by its two halves: the connection to the server and its
// signals (DBusNotificationState.cpp), and posting, replacing and taking away (DBusNotificationCenter.cpp).
#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "linux/dbus/DBusNotificationCenter.h"
#include "linux/glib/GObjectPtr.h"
#include "platform/SystemLog.h"

namespace orvan {

namespace notification_server {

constexpr const char* kBusName = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kAppName = "OrvanOffice";
// The installed desktop entry (without ".desktop") and the icon of the same name: servers show
// the entry's name and icon and group the notifications under it.
constexpr const char* kDesktopEntry = "jp.tomoriva.OrvanOffice";
constexpr const char* kDefaultAction = "default";
// A server that has not answered by then is as good as none: authorization must not hang.
constexpr int kProbeTimeoutMs = 2000;

inline bool isCancelled(const GError* error) {
    return error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// One log line: "Notifications: <what>: <reason>".
inline void logFailure(std::string_view what, const GError* error) {
    std::string line = "Notifications: ";
    line += what;
    if (error != nullptr && error->message != nullptr) {
        line += ": ";
        line += error->message;
    }
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    systemLog(line);
}

}  // namespace notification_server

struct DBusNotificationCenter::State : std::enable_shared_from_this<State> {
    enum class Bus { connecting, ready, missing };
    // Whether the current server renders markup in bodies; until known, requests wait.
    enum class Markup { unknown, probing, yes, no };
    using Reply = std::function<void(State&, GVariant* reply, const GError* error)>;
    using Task = std::function<void(State&)>;

    struct Posted {
        std::string identifier;
        nlohmann::json userInfo;
        std::set<std::string> actions;
    };

    // What an asynchronous call's callback needs; freed by that callback.
    struct PendingCall {
        std::weak_ptr<State> state;
        Reply onReply;
    };
    struct PendingTask {
        std::weak_ptr<State> state;
        Task task;
    };

    ~State() { shutdown(); }

    // Stops everything: pending calls end cancelled, no signal arrives any more, nothing queued runs.
    void shutdown();

    // --- the bus ---------------------------------------------------------------------------

    void connect(const std::string* address);

    static void sessionBusReady(GObject*, GAsyncResult* result, gpointer data);

    static void addressBusReady(GObject*, GAsyncResult* result, gpointer data);

    static void busReady(gpointer data, GDBusConnection* rawConnection, GError* rawError);

    void connected(GObjectPtr<GDBusConnection> established);

    static void freeWeak(gpointer data) { delete static_cast<std::weak_ptr<State>*>(data); }

    // Runs `task` now if the bus is settled, otherwise once it is.
    void whenBusKnown(Task task);

    // Runs `task` from the main loop, never inside the caller's own call.
    void later(Task task);

    static gboolean runLater(gpointer data);

    static void freeTask(gpointer data) { delete static_cast<PendingTask*>(data); }

    // Calls `method` on the notification server; `onReply` runs unless this state is gone or shut down.
    void call(const char* method, GVariant* parameters, const GVariantType* replyType, int timeoutMs,
              Reply onReply);

    static void callFinished(GObject* source, GAsyncResult* result, gpointer data);

    // --- posting ---------------------------------------------------------------------------

    void add(NotificationRequest request);

    void probeCapabilities();

    void notify(NotificationRequest request);

    void notified(Posted made, GVariant* reply, const GError* error);

    void remove(const std::string& identifier);

    void close(std::uint32_t id);

    void remember(std::uint32_t id, Posted made);

    void forget(std::uint32_t id);

    // --- authorization ---------------------------------------------------------------------

    // Reports whether a notification server answers.
    void checkServer(std::function<void(bool)> done);

    // --- the server's signals --------------------------------------------------------------

    static void serverSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
                             GVariant* parameters, gpointer data);

    void actionInvoked(std::uint32_t id, std::string_view action);

    static void ownerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                             GVariant*, gpointer data);

    bool closed = false;
    Bus bus = Bus::connecting;
    Markup markup = Markup::unknown;
    GObjectPtr<GCancellable> cancellable = GObjectPtr<GCancellable>::take(g_cancellable_new());
    GObjectPtr<GDBusConnection> connection;
    guint signalSubscription = 0;
    guint ownerSubscription = 0;
    std::vector<Task> waitingForBus;
    std::vector<NotificationRequest> waitingForCapabilities;

    // What we posted on the current server.
    std::map<std::string, std::uint32_t> idByIdentifier;
    std::map<std::uint32_t, Posted> posted;
    std::map<std::uint32_t, std::string> tokens;
    // Identifiers whose Notify has not answered yet, and the request waiting behind each.
    std::set<std::string> inFlight;
    std::map<std::string, NotificationRequest> nextByIdentifier;
    // Identifiers taken away while their Notify had not answered.
    std::set<std::string> withdrawn;

    std::function<void(const NotificationResponse&)> responseHandler;
};

}  // namespace orvan
