#include "tests/integration/FakeNotificationServer.h"

#include <memory>
#include <stdexcept>
#include <utility>

namespace orvan::testing {

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

constexpr const char* kInterfaceXml = R"(
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="ActivationToken"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>)";

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

[[noreturn]] void fail(const char* what, GError* raw) {
    std::unique_ptr<GError, ErrorFree> error(raw);
    throw std::runtime_error(std::string(what) + ": " + (error ? error->message : "unknown error"));
}

FakeNotificationServer::Hint hintOf(GVariant* value) {
    FakeNotificationServer::Hint hint{g_variant_get_type_string(value), {}};
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        hint.value = g_variant_get_string(value, nullptr);
    } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
        hint.value = g_variant_get_boolean(value) ? "true" : "false";
    } else {
        std::unique_ptr<gchar, GFreeDeleter> printed(g_variant_print(value, FALSE));
        hint.value = printed.get();
    }
    return hint;
}

}  // namespace

FakeNotificationServer::FakeNotificationServer(std::vector<std::string> capabilities)
    : capabilities_(std::move(capabilities)) {
    GError* error = nullptr;
    std::unique_ptr<gchar, GFreeDeleter> address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!address) fail("no session bus", error);
    const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                         G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    connection_ = GObjectPtr<GDBusConnection>::take(
        g_dbus_connection_new_for_address_sync(address.get(), flags, nullptr, nullptr, &error));
    if (!connection_) fail("cannot connect to the session bus", error);

    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterfaceXml, &error);
    if (node == nullptr) fail("bad interface description", error);
    static const GDBusInterfaceVTable vtable{&FakeNotificationServer::methodCall, nullptr, nullptr, {}};
    registration_ = g_dbus_connection_register_object(connection_.get(), kPath, node->interfaces[0], &vtable, this,
                                                      nullptr, &error);
    g_dbus_node_info_unref(node);
    if (registration_ == 0) fail("cannot register the server object", error);
}

FakeNotificationServer::~FakeNotificationServer() {
    release();
    g_dbus_connection_unregister_object(connection_.get(), registration_);
    g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
}

bool FakeNotificationServer::own() {
    constexpr guint32 kDoNotQueue = 4;
    constexpr guint32 kPrimaryOwner = 1;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", kName, kDoNotQueue), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply == nullptr) fail("RequestName failed", error);
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    owned_ = result == kPrimaryOwner;
    return owned_;
}

bool FakeNotificationServer::release() {
    if (!owned_) return false;
    owned_ = false;
    constexpr guint32 kReleased = 1;
    GVariant* reply = g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
        g_variant_new("(s)", kName), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply == nullptr) return false;
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    return result == kReleased;
}

void FakeNotificationServer::emitActivationToken(std::uint32_t id, const std::string& token) {
    emit("ActivationToken", g_variant_new("(us)", id, token.c_str()));
}

void FakeNotificationServer::emitActionInvoked(std::uint32_t id, const std::string& action) {
    emit("ActionInvoked", g_variant_new("(us)", id, action.c_str()));
}

void FakeNotificationServer::emitNotificationClosed(std::uint32_t id, std::uint32_t reason) {
    emit("NotificationClosed", g_variant_new("(uu)", id, reason));
}

void FakeNotificationServer::emit(const char* signal, GVariant* parameters) {
    GError* error = nullptr;
    if (!g_dbus_connection_emit_signal(connection_.get(), nullptr, kPath, kName, signal, parameters, &error)) {
        fail("cannot emit a signal", error);
    }
}

void FakeNotificationServer::methodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                        const gchar* method, GVariant* parameters,
                                        GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakeNotificationServer*>(data);
    const std::string name = method;
    if (name == "Notify") {
        Notification n;
        const gchar *appIcon = nullptr, *summary = nullptr, *body = nullptr;
        GVariantIter* hints = nullptr;
        g_variant_get(parameters, "(&su&s&s&sasa{sv}i)", nullptr, &n.replacesId, &appIcon, &summary, &body, nullptr,
                      &hints, nullptr);
        n.appIcon = appIcon;
        n.summary = summary;
        n.body = body;
        const gchar* key = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_next(hints, "{&sv}", &key, &value)) {
            n.hints[key] = hintOf(value);
            g_variant_unref(value);
        }
        g_variant_iter_free(hints);
        n.id = n.replacesId != 0 ? n.replacesId : self->nextId_++;
        self->notifications.push_back(n);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", n.id));
    } else if (name == "CloseNotification") {
        std::uint32_t id = 0;
        g_variant_get(parameters, "(u)", &id);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        self->emitNotificationClosed(id, 3);
    } else if (name == "GetCapabilities") {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
        for (const auto& capability : self->capabilities_) g_variant_builder_add(&builder, "s", capability.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &builder));
    } else if (name == "GetServerInformation") {
        ++self->serverInformationCalls;
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(ssss)", "fake-server", "OrvanOffice tests", "1", "1.2"));
    } else {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "no method %s",
                                              method);
    }
}

}  // namespace orvan::testing
