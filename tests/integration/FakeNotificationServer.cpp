#include "tests/integration/FakeNotificationServer.h"

#include <memory>
#include <utility>

namespace orvan::testing {

namespace {

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

}  // namespace

FakeNotificationServer::FakeNotificationServer(std::vector<std::string> capabilities)
    : capabilities_(std::move(capabilities)),
      bus_(kInterfaceXml, "/org/freedesktop/Notifications",
           [this](const std::string&, const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
               called(method, parameters, invocation);
           }) {}

void FakeNotificationServer::called(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
    if (method == "Notify") {
        Notification n;
        const gchar *summary = nullptr, *body = nullptr;
        GVariantIter* hints = nullptr;
        g_variant_get(parameters, "(&su&s&s&sasa{sv}i)", nullptr, &n.replacesId, nullptr, &summary, &body, nullptr,
                      &hints, nullptr);
        n.summary = summary;
        n.body = body;
        const gchar* key = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_next(hints, "{&sv}", &key, &value)) {
            std::unique_ptr<gchar, GFreeDeleter> printed(g_variant_print(value, FALSE));
            n.hints[key] = printed.get();
            g_variant_unref(value);
        }
        g_variant_iter_free(hints);
        n.id = n.replacesId != 0 ? n.replacesId : nextId_++;
        notifications.push_back(n);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", n.id));
    } else if (method == "CloseNotification") {
        std::uint32_t id = 0;
        g_variant_get(parameters, "(u)", &id);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        emitNotificationClosed(id, 3);
    } else if (method == "GetCapabilities") {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
        for (const auto& capability : capabilities_) g_variant_builder_add(&builder, "s", capability.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &builder));
    } else {
        ++serverInformationCalls;
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(ssss)", "fake-server", "OrvanOffice tests", "1", "1.2"));
    }
}

}  // namespace orvan::testing
