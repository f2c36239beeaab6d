#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "linux/glib/GObjectPtr.h"

namespace orvan::testing {

// The tests' notification server: python3-dbusmock's notification-daemon template in a process of
// its own on the session bus. What it was sent is read back from its call log; the user's part is
// played by having it emit the server's signals.
class MockNotificationServer {
public:
    struct Notification {
        std::uint32_t id = 0;
        std::uint32_t replacesId = 0;
        std::string summary;
        std::string body;
        std::map<std::string, std::string> hints;  // printed as GVariant text: true, 'text', ...
    };

    explicit MockNotificationServer(std::string capabilities = "actions body sound") : capabilities_(std::move(capabilities)) {}
    ~MockNotificationServer() { stop(); }

    // True once it holds org.freedesktop.Notifications.
    bool start() {
        const std::string parameters = R"({"capabilities": ")" + capabilities_ + "\"}";
        process_ = GObjectPtr<GSubprocess>::take(g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_SILENCE, nullptr, ORVAN_SYSTEM_PYTHON,
                                                                  "-m", "dbusmock", "--template", "notification_daemon",
                                                                  "-p", parameters.c_str(), nullptr));
        return process_ && nameOwned(true);
    }
    // True once it has ended and its name is free again.
    bool stop() {
        if (!process_) return true;
        g_subprocess_force_exit(process_.get());
        g_subprocess_wait(process_.get(), nullptr, nullptr);
        process_ = {};
        return nameOwned(false);
    }

    // Every Notify it was sent, in order, with the id it answered: the replaced one's, or its next.
    std::vector<Notification> notifications() const {
        std::vector<Notification> found;
        std::uint32_t next = 1;
        g_autoptr(GVariant) log = calls("Notify");
        GVariantIter each;
        g_variant_iter_init(&each, log);
        GVariant* args = nullptr;
        while (g_variant_iter_next(&each, "(t@av)", nullptr, &args)) {
            const auto arg = [args](gsize i) {
                GVariant* value = nullptr;
                g_variant_get_child(args, i, "v", &value);
                return value;
            };
            g_autoptr(GVariant) replaces = arg(1);
            g_autoptr(GVariant) summary = arg(3);
            g_autoptr(GVariant) body = arg(4);
            g_autoptr(GVariant) hints = arg(6);
            Notification n;
            n.replacesId = g_variant_get_uint32(replaces);
            n.id = n.replacesId != 0 ? n.replacesId : next++;
            n.summary = g_variant_get_string(summary, nullptr);
            n.body = g_variant_get_string(body, nullptr);
            GVariantIter iter;
            g_variant_iter_init(&iter, hints);
            const gchar* key = nullptr;
            GVariant* value = nullptr;
            while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
                g_autofree gchar* printed = g_variant_print(value, FALSE);
                n.hints[key] = printed;
                g_variant_unref(value);
            }
            g_variant_unref(args);
            found.push_back(std::move(n));
        }
        return found;
    }
    std::size_t callsOf(const char* method) const {
        g_autoptr(GVariant) log = calls(method);
        return g_variant_n_children(log);
    }

    // Emits one of the server's signals: an id, then a text or a number.
    void emit(const char* signal, std::uint32_t id, GVariant* second) const {
        GVariant* values[] = {g_variant_new_variant(g_variant_new_uint32(id)), g_variant_new_variant(second)};
        const std::string signature = std::string("u") + g_variant_get_type_string(second);
        g_autoptr(GVariant) reply = mock("EmitSignal", g_variant_new("(sss@av)", "org.freedesktop.Notifications", signal,
                                                                    signature.c_str(), g_variant_new_array(G_VARIANT_TYPE_VARIANT, values, 2)));
    }

private:
    GVariant* mock(const char* method, GVariant* parameters) const {
        return call("org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.DBus.Mock", method,
                    parameters);
    }
    static GVariant* call(const char* name, const char* path, const char* interface, const char* method, GVariant* parameters) {
        g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        return g_dbus_connection_call_sync(bus, name, path, interface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE,
                                           5000, nullptr, nullptr);
    }
    // The call log of `method`: the time and arguments (a(tav)) of each call.
    GVariant* calls(const char* method) const {
        g_autoptr(GVariant) reply = mock("GetMethodCalls", g_variant_new("(s)", method));
        return reply != nullptr ? g_variant_get_child_value(reply, 0)
                                : g_variant_ref_sink(g_variant_new_array(G_VARIANT_TYPE("(tav)"), nullptr, 0));
    }
    bool nameOwned(bool owned) const {
        for (int tries = 0; tries < 500; g_usleep(20000), ++tries) {
            g_autoptr(GVariant) reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                             "NameHasOwner", g_variant_new("(s)", "org.freedesktop.Notifications"));
            gboolean has = FALSE;
            if (reply != nullptr) g_variant_get(reply, "(b)", &has);
            if ((has == TRUE) == owned) return true;
        }
        return false;
    }

    std::string capabilities_;
    GObjectPtr<GSubprocess> process_;
};

}  // namespace orvan::testing
