#include "tests/integration/FakeStatusNotifierHost.h"

#include <memory>

namespace orvan::testing {

namespace {

constexpr const char* kInterfaceXml = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  </interface>
</node>)xml";

}  // namespace

FakeStatusNotifierHost::FakeStatusNotifierHost()
    : bus_(kInterfaceXml, "/StatusNotifierWatcher",
           [this](const std::string&, const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
               if (method == "RegisterStatusNotifierItem") {
                   const gchar* service = nullptr;
                   g_variant_get(parameters, "(&s)", &service);
                   registered.emplace_back(service);
               }
               g_dbus_method_invocation_return_value(invocation, nullptr);
           }) {
    bus_.own("org.kde.StatusNotifierWatcher");
}

FakeStatusNotifierHost::~FakeStatusNotifierHost() {
    for (guint subscription : subscriptions_) g_dbus_connection_signal_unsubscribe(bus_.connection(), subscription);
}

GVariant* FakeStatusNotifierHost::call(const std::string& service, const char* path, const char* interface,
                                       const char* method, GVariant* parameters) {
    struct Outcome {
        bool done = false;
        GVariant* reply = nullptr;
    } outcome;
    g_dbus_connection_call(
        bus_.connection(), service.c_str(), path, interface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
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
        bus_.connection(), nullptr, interface, member, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters, gpointer data) {
            (*static_cast<std::function<void(GVariant*)>*>(data))(parameters);
        },
        handlers_.back().get(), nullptr));
    // The bus takes the match rule in order with this connection's messages: after a round trip
    // it is in place, so no signal emitted from now on is missed.
    GVariant* reply = g_dbus_connection_call_sync(bus_.connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
}

}  // namespace orvan::testing
