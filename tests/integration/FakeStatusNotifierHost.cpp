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

std::vector<FakeStatusNotifierHost::MenuRow> FakeStatusNotifierHost::menu(const std::string& service) {
    if (GVariant* shown = call(service, "/MenuBar", "com.canonical.dbusmenu", "AboutToShow", g_variant_new("(i)", 0))) {
        g_variant_unref(shown);
    }
    GVariant* layout = call(service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                            g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
    std::vector<MenuRow> rows;
    if (layout == nullptr) return rows;
    GVariant* root = g_variant_get_child_value(layout, 1);
    GVariant* children = g_variant_get_child_value(root, 2);
    for (gsize index = 0; index < g_variant_n_children(children); ++index) {
        GVariant* boxed = g_variant_get_child_value(children, index);
        GVariant* child = g_variant_get_variant(boxed);
        MenuRow row{};
        GVariant* properties = nullptr;
        g_variant_get(child, "(i@a{sv}@av)", &row.id, &properties, nullptr);
        const gchar* text = nullptr;
        if (g_variant_lookup(properties, "type", "&s", &text) && g_str_equal(text, "separator")) row.text = "---";
        else if (g_variant_lookup(properties, "label", "&s", &text)) row.text = text;
        if (!g_variant_lookup(properties, "toggle-state", "i", &row.checked)) row.checked = -1;
        rows.push_back(row);
        g_variant_unref(properties);
        g_variant_unref(child);
        g_variant_unref(boxed);
    }
    g_variant_unref(children);
    g_variant_unref(root);
    g_variant_unref(layout);
    return rows;
}

bool FakeStatusNotifierHost::click(const std::string& service, std::int32_t row) {
    GVariant* reply = call(service, "/MenuBar", "com.canonical.dbusmenu", "Event",
                           g_variant_new("(isvu)", row, "clicked", g_variant_new_int32(0), 0u));
    if (reply != nullptr) g_variant_unref(reply);
    return reply != nullptr;
}

bool FakeStatusNotifierHost::activate(const std::string& service) {
    GVariant* reply = call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 0, 0));
    if (reply != nullptr) g_variant_unref(reply);
    return reply != nullptr;
}

void FakeStatusNotifierHost::drop(const std::string& service) {
    bus_.emit("org.kde.StatusNotifierWatcher", "StatusNotifierItemUnregistered", g_variant_new("(s)", service.c_str()));
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
