#include "tests/integration/FakeBusService.h"

#include <memory>
#include <stdexcept>

namespace orvan::testing {

namespace {

[[noreturn]] void fail(const char* what, GError* error) {
    const std::string message = std::string(what) + ": " + (error != nullptr ? error->message : "unknown error");
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error(message);
}

}  // namespace

FakeBusService::FakeBusService(const char* xml, std::string path, Handler handle, std::size_t interfaces,
                               GDBusInterfaceGetPropertyFunc property)
    : path_(std::move(path)), handle_(std::move(handle)) {
    GError* error = nullptr;
    std::unique_ptr<gchar, GFreeDeleter> address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!address) fail("no session bus", error);
    const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                         G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    connection_ = GObjectPtr<GDBusConnection>::take(
        g_dbus_connection_new_for_address_sync(address.get(), flags, nullptr, nullptr, &error));
    if (!connection_) fail("cannot connect to the session bus", error);

    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, &error);
    if (node == nullptr) fail("bad interface description", error);
    const GDBusInterfaceVTable vtable{
        +[](GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
            GDBusMethodInvocation* invocation, gpointer self) {
            static_cast<FakeBusService*>(self)->handle_(sender, method, parameters, invocation);
        },
        property, nullptr, {}};
    for (std::size_t index = 0; index < interfaces && node->interfaces[index] != nullptr; ++index) {
        registrations_.push_back(g_dbus_connection_register_object(connection_.get(), path_.c_str(),
                                                                   node->interfaces[index], &vtable, this, nullptr, &error));
        if (registrations_.back() == 0) {
            g_dbus_node_info_unref(node);
            fail("cannot register the object", error);
        }
    }
    g_dbus_node_info_unref(node);
}

FakeBusService::~FakeBusService() {
    for (const guint registration : registrations_) g_dbus_connection_unregister_object(connection_.get(), registration);
    g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
}

guint32 FakeBusService::askBus(const char* method, GVariant* parameters) {
    GVariant* reply = g_dbus_connection_call_sync(connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", method, parameters, G_VARIANT_TYPE("(u)"),
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    guint32 result = 0;
    if (reply != nullptr) g_variant_get(reply, "(u)", &result);
    if (reply != nullptr) g_variant_unref(reply);
    return result;
}

bool FakeBusService::own(const char* name) {
    constexpr guint32 kDoNotQueue = 4, kPrimaryOwner = 1;
    return askBus("RequestName", g_variant_new("(su)", name, kDoNotQueue)) == kPrimaryOwner;
}

bool FakeBusService::release(const char* name) {
    constexpr guint32 kReleased = 1;
    return askBus("ReleaseName", g_variant_new("(s)", name)) == kReleased;
}

void FakeBusService::emit(const char* interface, const char* signal, GVariant* parameters, const char* destination,
                          const char* path) {
    GError* error = nullptr;
    if (!g_dbus_connection_emit_signal(connection_.get(), destination, path != nullptr ? path : path_.c_str(), interface,
                                       signal, parameters, &error)) {
        fail("cannot emit a signal", error);
    }
}

}  // namespace orvan::testing
