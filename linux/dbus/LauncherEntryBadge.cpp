#include "linux/dbus/LauncherEntryBadge.h"

#include "platform/SystemLog.h"

namespace orvan {

void LauncherEntryBadge::setBadgeCount(std::int64_t count) {
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (connection == nullptr) {
        g_error_free(error);
        return;
    }
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(count));
    g_variant_builder_add(&properties, "{sv}", "count-visible", g_variant_new_boolean(count > 0));
    if (!g_dbus_connection_emit_signal(connection, nullptr, kPath, kInterface, "Update",
                                       g_variant_new("(sa{sv})", appUri_.c_str(), &properties), &error)) {
        systemLog(std::string("MacShell: アイコンのバッジを設定できません: ") + error->message);
        g_error_free(error);
    }
    g_object_unref(connection);
}

}  // namespace orvan
