#include "linux/dbus/DBusNotificationCenter.h"

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/SystemLog.h"
#include "linux/glib/GObjectPtr.h"

namespace orvan {

namespace {

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

// Owns one reference to a GVariant (sinking a floating one).
class VariantPtr {
public:
    VariantPtr() = default;
    static VariantPtr take(GVariant* variant) {
        VariantPtr pointer;
        pointer.variant_ = variant != nullptr ? g_variant_take_ref(variant) : nullptr;
        return pointer;
    }
    VariantPtr(const VariantPtr&) = delete;
    VariantPtr& operator=(const VariantPtr&) = delete;
    VariantPtr(VariantPtr&& other) noexcept : variant_(std::exchange(other.variant_, nullptr)) {}
    VariantPtr& operator=(VariantPtr&& other) noexcept {
        std::swap(variant_, other.variant_);
        return *this;
    }
    ~VariantPtr() {
        if (variant_ != nullptr) g_variant_unref(variant_);
    }
    GVariant* get() const { return variant_; }

private:
    GVariant* variant_ = nullptr;
};

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

bool isCancelled(const GError* error) {
    return error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// One log line: "Notifications: <what>: <reason>".
void logFailure(std::string_view what, const GError* error) {
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

}  // namespace

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
    void shutdown() {
        if (closed) return;
        closed = true;
        g_cancellable_cancel(cancellable.get());
        if (connection) {
            if (signalSubscription != 0) g_dbus_connection_signal_unsubscribe(connection.get(), signalSubscription);
            if (ownerSubscription != 0) g_dbus_connection_signal_unsubscribe(connection.get(), ownerSubscription);
        }
        signalSubscription = 0;
        ownerSubscription = 0;
        waitingForBus.clear();
        waitingForCapabilities.clear();
        nextByIdentifier.clear();
    }

    // --- the bus ---------------------------------------------------------------------------

    void connect(const std::string* address) {
        auto* weak = new std::weak_ptr<State>(weak_from_this());
        if (address == nullptr) {
            g_bus_get(G_BUS_TYPE_SESSION, cancellable.get(), &State::sessionBusReady, weak);
        } else {
            const auto flags = static_cast<GDBusConnectionFlags>(
                G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
            g_dbus_connection_new_for_address(address->c_str(), flags, nullptr, cancellable.get(),
                                              &State::addressBusReady, weak);
        }
    }

    static void sessionBusReady(GObject*, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GDBusConnection* connection = g_bus_get_finish(result, &error);
        busReady(data, connection, error);
    }

    static void addressBusReady(GObject*, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
        busReady(data, connection, error);
    }

    static void busReady(gpointer data, GDBusConnection* rawConnection, GError* rawError) {
        std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(data));
        auto connection = GObjectPtr<GDBusConnection>::take(rawConnection);
        ErrorPtr error(rawError);
        auto state = weak->lock();
        if (!state || state->closed || isCancelled(error.get())) return;
        if (connection) {
            state->connected(std::move(connection));
        } else {
            logFailure("no session bus, notifications are dropped", error.get());
            state->bus = Bus::missing;
        }
        auto waiting = std::move(state->waitingForBus);
        state->waitingForBus.clear();
        for (auto& task : waiting) {
            if (state->closed) return;
            task(*state);
        }
    }

    void connected(GObjectPtr<GDBusConnection> established) {
        connection = std::move(established);
        bus = Bus::ready;
        // Subscribed before the first Notify leaves, so no answer to it can be missed.
        signalSubscription = g_dbus_connection_signal_subscribe(
            connection.get(), kBusName, kInterface, nullptr, kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &State::serverSignal, new std::weak_ptr<State>(weak_from_this()), &State::freeWeak);
        // Ids belong to one server: when it goes away (or another takes over) they mean nothing.
        ownerSubscription = g_dbus_connection_signal_subscribe(
            connection.get(), "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
            "/org/freedesktop/DBus", kBusName, G_DBUS_SIGNAL_FLAGS_NONE, &State::ownerChanged,
            new std::weak_ptr<State>(weak_from_this()), &State::freeWeak);
    }

    static void freeWeak(gpointer data) { delete static_cast<std::weak_ptr<State>*>(data); }

    // Runs `task` now if the bus is settled, otherwise once it is.
    void whenBusKnown(Task task) {
        if (bus == Bus::connecting) {
            waitingForBus.push_back(std::move(task));
        } else {
            task(*this);
        }
    }

    // Runs `task` from the main loop, never inside the caller's own call.
    void later(Task task) {
        g_idle_add_full(G_PRIORITY_DEFAULT, &State::runLater, new PendingTask{weak_from_this(), std::move(task)},
                        &State::freeTask);
    }

    static gboolean runLater(gpointer data) {
        auto* pending = static_cast<PendingTask*>(data);
        if (auto state = pending->state.lock(); state && !state->closed) pending->task(*state);
        return G_SOURCE_REMOVE;
    }

    static void freeTask(gpointer data) { delete static_cast<PendingTask*>(data); }

    // Calls `method` on the notification server; `onReply` runs unless this state is gone or shut down.
    void call(const char* method, GVariant* parameters, const GVariantType* replyType, int timeoutMs,
              Reply onReply) {
        g_dbus_connection_call(connection.get(), kBusName, kObjectPath, kInterface, method, parameters,
                               replyType, G_DBUS_CALL_FLAGS_NONE, timeoutMs, cancellable.get(),
                               &State::callFinished, new PendingCall{weak_from_this(), std::move(onReply)});
    }

    static void callFinished(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<PendingCall> pending(static_cast<PendingCall*>(data));
        GError* rawError = nullptr;
        auto reply = VariantPtr::take(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &rawError));
        ErrorPtr error(rawError);
        // Held here so that a callback which destroys the centre does not pull the state from under us.
        auto state = pending->state.lock();
        if (!state || state->closed || isCancelled(error.get())) return;
        pending->onReply(*state, reply.get(), error.get());
    }

    // --- posting ---------------------------------------------------------------------------

    void add(NotificationRequest request) {
        if (closed) return;
        if (bus == Bus::connecting) {
            waitingForBus.push_back([request = std::move(request)](State& s) mutable { s.add(std::move(request)); });
            return;
        }
        // Without a bus there is nowhere to post; that was logged once when the bus failed.
        if (bus == Bus::missing) return;
        // Posted again after it was taken away: the newer one stands.
        withdrawn.erase(request.identifier);
        if (markup == Markup::unknown || markup == Markup::probing) {
            waitingForCapabilities.push_back(std::move(request));
            probeCapabilities();
            return;
        }
        // The replaced id only exists once the earlier Notify has answered; until then the newer
        // request waits, and only the newest one is worth showing.
        if (inFlight.contains(request.identifier)) {
            nextByIdentifier.insert_or_assign(request.identifier, std::move(request));
            return;
        }
        notify(std::move(request));
    }

    void probeCapabilities() {
        if (markup == Markup::probing) return;
        markup = Markup::probing;
        call("GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"), kProbeTimeoutMs,
             [](State& s, GVariant* reply, const GError*) {
                 // No answer: plain text, the safe reading. The Notify that follows logs the failure.
                 bool bodyMarkup = false;
                 if (reply != nullptr) {
                     const gchar** capabilities = nullptr;
                     g_variant_get(reply, "(^a&s)", &capabilities);
                     std::unique_ptr<const gchar*, GFreeDeleter> owned(capabilities);
                     for (const gchar** c = capabilities; c != nullptr && *c != nullptr; ++c) {
                         if (g_strcmp0(*c, "body-markup") == 0) bodyMarkup = true;
                     }
                 }
                 s.markup = bodyMarkup ? Markup::yes : Markup::no;
                 auto waiting = std::move(s.waitingForCapabilities);
                 s.waitingForCapabilities.clear();
                 for (auto& request : waiting) s.add(std::move(request));
             });
    }

    void notify(NotificationRequest request) {
        const auto known = idByIdentifier.find(request.identifier);
        const std::uint32_t replacesId = known != idByIdentifier.end() ? known->second : 0;

        GVariantBuilder hints;
        g_variant_builder_init(&hints, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(kDesktopEntry));
        if (request.sound) {
            g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string(kSoundName));
        } else {
            g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
        }
        // A server that renders markup would otherwise read "&" or "<" in the text as markup.
        std::string body = request.body.value_or("");
        if (markup == Markup::yes) {
            std::unique_ptr<gchar, GFreeDeleter> escaped(g_markup_escape_text(body.c_str(), -1));
            body = escaped.get();
        }
        // The body opens the notification; each button is a pair of its identifier and its title.
        GVariantBuilder actions;
        g_variant_builder_init(&actions, G_VARIANT_TYPE_STRING_ARRAY);
        g_variant_builder_add(&actions, "s", kDefaultAction);
        g_variant_builder_add(&actions, "s", "");
        std::set<std::string> buttons;
        for (const NotificationAction& action : request.actions) {
            if (action.identifier == kDefaultAction) continue;
            g_variant_builder_add(&actions, "s", action.identifier.c_str());
            g_variant_builder_add(&actions, "s", action.title.c_str());
            buttons.insert(action.identifier);
        }

        GVariant* parameters = g_variant_new("(susssasa{sv}i)", kAppName, replacesId, kDesktopEntry,
                                             request.title.c_str(), body.c_str(), &actions, &hints, -1);
        inFlight.insert(request.identifier);
        call("Notify", parameters, G_VARIANT_TYPE("(u)"), -1,
             [posted = Posted{std::move(request.identifier), std::move(request.userInfo), std::move(buttons)}](
                 State& s, GVariant* reply, const GError* error) mutable { s.notified(std::move(posted), reply, error); });
    }

    void notified(Posted made, GVariant* reply, const GError* error) {
        const std::string identifier = made.identifier;
        inFlight.erase(identifier);
        if (withdrawn.erase(identifier) != 0) {
            // Taken away while it was being posted: it goes as soon as it has an id.
            if (reply != nullptr) {
                std::uint32_t id = 0;
                g_variant_get(reply, "(u)", &id);
                close(id);
            }
            nextByIdentifier.erase(identifier);
            return;
        }
        if (reply != nullptr) {
            std::uint32_t id = 0;
            g_variant_get(reply, "(u)", &id);
            remember(id, std::move(made));
        } else {
            logFailure("Notify failed", error);
        }
        if (auto next = nextByIdentifier.find(identifier); next != nextByIdentifier.end()) {
            NotificationRequest request = std::move(next->second);
            nextByIdentifier.erase(next);
            add(std::move(request));
        }
    }

    void remove(const std::string& identifier) {
        if (closed) return;
        if (bus == Bus::connecting) {
            waitingForBus.push_back([identifier](State& s) { s.remove(identifier); });
            return;
        }
        std::erase_if(waitingForCapabilities, [&](const NotificationRequest& r) { return r.identifier == identifier; });
        nextByIdentifier.erase(identifier);
        if (inFlight.contains(identifier)) {
            withdrawn.insert(identifier);
            return;
        }
        auto known = idByIdentifier.find(identifier);
        if (known == idByIdentifier.end()) return;
        const std::uint32_t id = known->second;
        forget(id);
        close(id);
    }

    void close(std::uint32_t id) {
        call("CloseNotification", g_variant_new("(u)", id), nullptr, -1, [](State&, GVariant*, const GError* error) {
            if (error != nullptr) logFailure("CloseNotification failed", error);
        });
    }

    void remember(std::uint32_t id, Posted made) {
        const std::string identifier = made.identifier;
        // The identifier's earlier notification is gone if the server gave the new one another id.
        if (auto earlier = idByIdentifier.find(identifier); earlier != idByIdentifier.end() && earlier->second != id) {
            posted.erase(earlier->second);
            tokens.erase(earlier->second);
        }
        // A server that hands out an id again has forgotten whatever it stood for.
        if (auto reused = posted.find(id); reused != posted.end() && reused->second.identifier != identifier) {
            idByIdentifier.erase(reused->second.identifier);
        }
        idByIdentifier[identifier] = id;
        posted[id] = std::move(made);
    }

    void forget(std::uint32_t id) {
        auto entry = posted.find(id);
        if (entry == posted.end()) return;
        if (auto mapped = idByIdentifier.find(entry->second.identifier);
            mapped != idByIdentifier.end() && mapped->second == id) {
            idByIdentifier.erase(mapped);
        }
        posted.erase(entry);
        tokens.erase(id);
    }

    // --- authorization ---------------------------------------------------------------------

    // Reports whether a notification server answers.
    void checkServer(std::function<void(bool)> done) {
        if (closed) return;
        whenBusKnown([done = std::move(done)](State& s) mutable {
            if (s.bus != Bus::ready) {
                s.later([done = std::move(done)](State&) { done(false); });
                return;
            }
            s.call("GetServerInformation", nullptr, G_VARIANT_TYPE("(ssss)"), kProbeTimeoutMs,
                   [done = std::move(done)](State&, GVariant* reply, const GError*) { done(reply != nullptr); });
        });
    }

    // --- the server's signals --------------------------------------------------------------

    static void serverSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
                             GVariant* parameters, gpointer data) {
        auto state = static_cast<std::weak_ptr<State>*>(data)->lock();
        if (!state || state->closed) return;
        std::uint32_t id = 0;
        const gchar* text = nullptr;
        if (g_strcmp0(signal, "ActivationToken") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            g_variant_get(parameters, "(u&s)", &id, &text);
            if (state->posted.contains(id)) state->tokens[id] = text;
        } else if (g_strcmp0(signal, "ActionInvoked") == 0 &&
                   g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
            g_variant_get(parameters, "(u&s)", &id, &text);
            state->actionInvoked(id, text);
        } else if (g_strcmp0(signal, "NotificationClosed") == 0 &&
                   g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
            std::uint32_t reason = 0;
            g_variant_get(parameters, "(uu)", &id, &reason);
            state->forget(id);
        }
    }

    void actionInvoked(std::uint32_t id, std::string_view action) {
        auto entry = posted.find(id);
        if (entry == posted.end()) return;
        const bool opened = action == kDefaultAction;
        if (!opened && !entry->second.actions.contains(std::string(action))) return;
        NotificationResponse response{entry->second.userInfo, {}, opened ? std::string() : std::string(action)};
        if (auto token = tokens.find(id); token != tokens.end()) {
            response.activationToken = std::move(token->second);
            tokens.erase(token);
        }
        // A copy: the handler may replace itself or destroy the centre.
        if (auto handler = responseHandler) handler(response);
    }

    static void ownerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                             GVariant*, gpointer data) {
        auto state = static_cast<std::weak_ptr<State>*>(data)->lock();
        if (!state || state->closed) return;
        state->idByIdentifier.clear();
        state->posted.clear();
        state->tokens.clear();
        // A probe under way is answered by whoever owns the name now.
        if (state->markup != Markup::probing) state->markup = Markup::unknown;
    }

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

DBusNotificationCenter::DBusNotificationCenter() : state_(std::make_shared<State>()) { state_->connect(nullptr); }

DBusNotificationCenter::DBusNotificationCenter(const std::string& busAddress) : state_(std::make_shared<State>()) {
    state_->connect(&busAddress);
}

DBusNotificationCenter::~DBusNotificationCenter() { state_->shutdown(); }

void DBusNotificationCenter::add(const NotificationRequest& request) { state_->add(request); }

void DBusNotificationCenter::remove(const std::string& identifier) { state_->remove(identifier); }

void DBusNotificationCenter::authorization(std::function<void(NotificationAuthorization)> completion) {
    state_->checkServer([completion = std::move(completion)](bool answered) {
        if (!completion) return;
        completion(answered ? NotificationAuthorization::authorized : NotificationAuthorization::denied);
    });
}

void DBusNotificationCenter::requestAuthorization(std::function<void(bool granted)> completion) {
    // Freedesktop servers never ask the user: granted is simply "a server is there".
    state_->checkServer([completion = std::move(completion)](bool answered) {
        if (completion) completion(answered);
    });
}

void DBusNotificationCenter::setResponseHandler(std::function<void(const NotificationResponse&)> handler) {
    state_->responseHandler = std::move(handler);
}

}  // namespace orvan
