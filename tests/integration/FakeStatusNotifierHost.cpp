#include "tests/integration/FakeStatusNotifierHost.h"

#include <chrono>
#include <memory>
#include <stdexcept>

namespace orvan::testing {

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";

constexpr const char* kInterfaceXml = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  </interface>
</node>)xml";

[[noreturn]] void fail(const char* what, GError* error) {
    const std::string message = std::string(what) + ": " + (error != nullptr ? error->message : "unknown error");
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error(message);
}

}  // namespace

FakeStatusNotifierHost::FakeStatusNotifierHost() {
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (address == nullptr) fail("no session bus", error);
    const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                         G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    connection_ = GObjectPtr<GDBusConnection>::take(g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, &error));
    g_free(address);
    if (!connection_) fail("cannot connect to the session bus", error);

    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterfaceXml, &error);
    if (node == nullptr) fail("bad interface description", error);
    static const GDBusInterfaceVTable vtable{&FakeStatusNotifierHost::methodCall, nullptr, nullptr, {}};
    registration_ = g_dbus_connection_register_object(connection_.get(), "/StatusNotifierWatcher", node->interfaces[0],
                                                      &vtable, this, nullptr, &error);
    g_dbus_node_info_unref(node);
    if (registration_ == 0) fail("cannot register the watcher", error);

    constexpr guint32 kDoNotQueue = 4;
    GVariant* reply = g_dbus_connection_call_sync(connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", kWatcher, kDoNotQueue),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply == nullptr) fail("RequestName failed", error);
    g_variant_unref(reply);
}

FakeStatusNotifierHost::~FakeStatusNotifierHost() {
    for (guint subscription : subscriptions_) g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);
    g_dbus_connection_unregister_object(connection_.get(), registration_);
    g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
}

void FakeStatusNotifierHost::methodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                                        GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
    if (g_str_equal(method, "RegisterStatusNotifierItem")) {
        const gchar* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        static_cast<FakeStatusNotifierHost*>(self)->registered.emplace_back(service);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* FakeStatusNotifierHost::call(const std::string& service, const char* path, const char* interface,
                                       const char* method, GVariant* parameters) {
    struct Outcome {
        bool done = false;
        GVariant* reply = nullptr;
    } outcome;
    g_dbus_connection_call(
        connection_.get(), service.c_str(), path, interface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            auto* out = static_cast<Outcome*>(data);
            out->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            out->done = true;
        },
        &outcome);
    while (!outcome.done) g_main_context_iteration(nullptr, TRUE);
    return outcome.reply;
}

GVariant* FakeStatusNotifierHost::itemProperty(const std::string& service, const char* property) {
    GVariant* reply = call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", "org.kde.StatusNotifierItem", property));
    if (reply == nullptr) return nullptr;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    g_variant_unref(reply);
    return value;
}

void FakeStatusNotifierHost::onSignal(const char* interface, const char* member, std::function<void(GVariant*)> handler) {
    handlers_.push_back(std::make_unique<std::function<void(GVariant*)>>(std::move(handler)));
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(
        connection_.get(), nullptr, interface, member, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters, gpointer data) {
            (*static_cast<std::function<void(GVariant*)>*>(data))(parameters);
        },
        handlers_.back().get(), nullptr));
    // The bus takes the match rule in order with this connection's messages: after a round trip
    // it is in place, so no signal emitted from now on is missed.
    GVariant* reply = g_dbus_connection_call_sync(connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
}

}  // namespace orvan::testing
