#include "linux/dbus/DBusNotificationState.h"

namespace orvan {

using namespace notification_server;

void DBusNotificationCenter::State::shutdown() {
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

void DBusNotificationCenter::State::connect(const std::string* address) {
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

void DBusNotificationCenter::State::sessionBusReady(GObject*, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_finish(result, &error);
    busReady(data, connection, error);
}

void DBusNotificationCenter::State::addressBusReady(GObject*, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
    busReady(data, connection, error);
}

void DBusNotificationCenter::State::busReady(gpointer data, GDBusConnection* rawConnection, GError* rawError) {
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

void DBusNotificationCenter::State::connected(GObjectPtr<GDBusConnection> established) {
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

void DBusNotificationCenter::State::whenBusKnown(Task task) {
    if (bus == Bus::connecting) {
        waitingForBus.push_back(std::move(task));
    } else {
        task(*this);
    }
}

void DBusNotificationCenter::State::later(Task task) {
    g_idle_add_full(G_PRIORITY_DEFAULT, &State::runLater, new PendingTask{weak_from_this(), std::move(task)},
                    &State::freeTask);
}

gboolean DBusNotificationCenter::State::runLater(gpointer data) {
    auto* pending = static_cast<PendingTask*>(data);
    if (auto state = pending->state.lock(); state && !state->closed) pending->task(*state);
    return G_SOURCE_REMOVE;
}

void DBusNotificationCenter::State::callFinished(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingCall> pending(static_cast<PendingCall*>(data));
    GError* rawError = nullptr;
    auto reply = takeVariant(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &rawError));
    ErrorPtr error(rawError);
    // Held here so that a callback which destroys the centre does not pull the state from under us.
    auto state = pending->state.lock();
    if (!state || state->closed || isCancelled(error.get())) return;
    pending->onReply(*state, reply.get(), error.get());
}

void DBusNotificationCenter::State::checkServer(std::function<void(bool)> done) {
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

void DBusNotificationCenter::State::actionInvoked(std::uint32_t id, std::string_view action) {
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

void DBusNotificationCenter::State::call(const char* method, GVariant* parameters, const GVariantType* replyType, int timeoutMs,
          Reply onReply) {
    g_dbus_connection_call(connection.get(), kBusName, kObjectPath, kInterface, method, parameters,
                           replyType, G_DBUS_CALL_FLAGS_NONE, timeoutMs, cancellable.get(),
                           &State::callFinished, new PendingCall{weak_from_this(), std::move(onReply)});
}

void DBusNotificationCenter::State::serverSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
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

void DBusNotificationCenter::State::ownerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant*, gpointer data) {
    auto state = static_cast<std::weak_ptr<State>*>(data)->lock();
    if (!state || state->closed) return;
    state->idByIdentifier.clear();
    state->posted.clear();
    state->tokens.clear();
    // A probe under way is answered by whoever owns the name now.
    if (state->markup != Markup::probing) state->markup = Markup::unknown;
}

}  // namespace orvan
