#include "linux/dbus/PortalGlobalShortcuts.h"

#include <map>
#include <memory>
#include <utility>

#include "linux/dbus/PortalRequest.h"
#include "linux/glib/HotKeyPressDispatch.h"

namespace orvan {

namespace {

constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";

// One bound shortcut: its portal session from creation to close, and the presses it delivers.
struct ShortcutSession : std::enable_shared_from_this<ShortcutSession> {
    GObjectPtr<GDBusConnection> bus;
    GObjectPtr<GCancellable> cancellable = GObjectPtr<GCancellable>::take(g_cancellable_new());
    std::string id;
    std::string trigger;
    std::string description;
    // Shared only so that a press scheduled before the close finds it gone.
    std::shared_ptr<GlobalHotKeys::Pressed> pressed;
    GlobalHotKeys::Refused refused;
    std::unique_ptr<PortalRequest> request;
    std::string session;
    guint activations = 0;
    bool closed = false;

    template <typename Step>
    PortalRequest::Answered then(Step step) {
        return [weak = weak_from_this(), step](const PortalAnswer& answer) {
            if (const auto self = weak.lock(); self && !self->closed) (self.get()->*step)(answer);
        };
    }

    // The portal's interface version first: it tells a portal without GlobalShortcuts from none.
    void start() {
        g_dbus_connection_call(bus.get(), kPortalService, kPortalObject, "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", kInterface, "version"), G_VARIANT_TYPE("(v)"),
                               G_DBUS_CALL_FLAGS_NONE, -1, cancellable.get(), &ShortcutSession::versionRead,
                               new std::weak_ptr<ShortcutSession>(weak_from_this()));
    }

    static void versionRead(GObject* source, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<std::weak_ptr<ShortcutSession>> weak(static_cast<std::weak_ptr<ShortcutSession>*>(data));
        GError* error = nullptr;
        const VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
        const bool noPortal = error != nullptr && (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                                                   g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER));
        if (error != nullptr) g_error_free(error);
        const auto self = weak->lock();
        if (!self || self->closed) return;
        guint32 version = 0;
        if (reply) {
            GVariant* raw = nullptr;
            g_variant_get(reply.get(), "(v)", &raw);
            const VariantPtr value(raw);
            if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)) version = g_variant_get_uint32(value.get());
        }
        if (noPortal) return self->refuse(GlobalHotKeys::kUnavailable);
        if (version < 1) return self->refuse(PortalGlobalShortcuts::kNotOffered);
        self->request = std::make_unique<PortalRequest>(
            self->bus.get(), kInterface, "CreateSession", nullptr,
            g_variant_new_parsed("{'session_handle_token': <%s>}", PortalRequest::newToken().c_str()),
            self->then(&ShortcutSession::sessionCreated));
    }

    void sessionCreated(const PortalAnswer& answer) {
        // Documented as a string, though it is an object path: take either.
        const VariantPtr handle(answer.granted() ? g_variant_lookup_value(answer.results, "session_handle", nullptr) : nullptr);
        if (!handle || !(g_variant_is_of_type(handle.get(), G_VARIANT_TYPE_STRING) ||
                         g_variant_is_of_type(handle.get(), G_VARIANT_TYPE_OBJECT_PATH)) ||
            !g_variant_is_object_path(g_variant_get_string(handle.get(), nullptr))) {
            return refuse(PortalGlobalShortcuts::kSessionRefused);
        }
        session = g_variant_get_string(handle.get(), nullptr);
        // Listening before binding: a press right after the user confirms is not lost.
        activations = g_dbus_connection_signal_subscribe(
            bus.get(), kPortalService, kInterface, "Activated", kPortalObject, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &ShortcutSession::activated, new std::weak_ptr<ShortcutSession>(weak_from_this()),
            +[](gpointer data) { delete static_cast<std::weak_ptr<ShortcutSession>*>(data); });
        GVariantBuilder shortcuts;
        g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
        g_variant_builder_add_parsed(&shortcuts, "(%s, {'description': <%s>, 'preferred_trigger': <%s>})", id.c_str(),
                                     description.c_str(), trigger.c_str());
        request = std::make_unique<PortalRequest>(
            bus.get(), kInterface, "BindShortcuts",
            g_variant_new("(o@a(sa{sv})s)", session.c_str(), g_variant_builder_end(&shortcuts), ""), nullptr,
            then(&ShortcutSession::bound));
    }

    // Bound means ours is among the shortcuts the portal reports bound.
    void bound(const PortalAnswer& answer) {
        const VariantPtr list(
            answer.granted() ? g_variant_lookup_value(answer.results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})")) : nullptr);
        bool ours = false;
        for (gsize index = 0; list && index < g_variant_n_children(list.get()) && !ours; ++index) {
            const gchar* boundId = nullptr;
            g_variant_get_child(list.get(), index, "(&s@a{sv})", &boundId, nullptr);
            ours = id == boundId;
        }
        request.reset();
        if (!ours) refuse(PortalGlobalShortcuts::kBindRefused);
    }

    static void activated(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant* parameters, gpointer data) {
        const auto self = static_cast<std::weak_ptr<ShortcutSession>*>(data)->lock();
        if (!self || self->closed || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
        const gchar* session = nullptr;
        const gchar* shortcut = nullptr;
        GVariant* raw = nullptr;
        g_variant_get(parameters, "(&o&st@a{sv})", &session, &shortcut, nullptr, &raw);
        const VariantPtr options(raw);
        if (self->session != session || self->id != shortcut) return;
        const gchar* token = nullptr;
        if (!g_variant_lookup(options.get(), "activation_token", "&s", &token)) token = "";
        self->schedule(token);
    }

    // The press is only handed on here; the work runs on its own turn of the main loop.
    void schedule(const std::string& token) {
        dispatchHotKeyPress(pressed, token);
    }

    // The refusal goes out last: the caller's handler may do anything.
    void refuse(int code) {
        close();
        const GlobalHotKeys::Refused deliver = std::move(refused);
        if (deliver) deliver(code);
    }

    void close() {
        closed = true;
        g_cancellable_cancel(cancellable.get());
        request.reset();
        pressed.reset();
        if (activations != 0) g_dbus_connection_signal_unsubscribe(bus.get(), activations);
        activations = 0;
        if (!session.empty()) {
            g_dbus_connection_call(bus.get(), kPortalService, session.c_str(), "org.freedesktop.portal.Session",
                                   "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr,
                                   nullptr);
        }
        session.clear();
    }
};

class PortalHotKey final : public GlobalHotKey {
public:
    explicit PortalHotKey(std::shared_ptr<ShortcutSession> session) : session_(std::move(session)) {}
    ~PortalHotKey() override { session_->close(); }
    PortalHotKey(const PortalHotKey&) = delete;
    PortalHotKey& operator=(const PortalHotKey&) = delete;

private:
    std::shared_ptr<ShortcutSession> session_;
};

}  // namespace

std::string PortalGlobalShortcuts::trigger(const std::vector<std::string>& keys) {
    static const std::map<std::string, std::string> modifiers{
        {"Super", "LOGO"}, {"Shift", "SHIFT"}, {"Control", "CTRL"}, {"Alt", "ALT"}};
    std::string text;
    for (std::size_t index = 0; index < keys.size(); ++index) {
        const auto modifier = modifiers.find(keys[index]);
        if (!text.empty()) text += '+';
        text += index + 1 < keys.size() && modifier != modifiers.end() ? modifier->second : keys[index];
    }
    return text;
}

HotKeyRegistration PortalGlobalShortcuts::registerHotKey(const std::vector<std::string>& keys, Pressed pressed,
                                                         Refused refused) {
    if (!bus_ || keys.empty()) return {nullptr, kUnavailable};
    auto session = std::make_shared<ShortcutSession>();
    session->bus = bus_;
    session->trigger = trigger(keys);
    // The trigger names the shortcut: the desktop keeps what the user chose for it under this id.
    session->id = session->trigger;
    session->description = description_;
    session->pressed = std::make_shared<Pressed>(std::move(pressed));
    session->refused = std::move(refused);
    session->start();
    return {std::make_unique<PortalHotKey>(std::move(session)), 0};
}

}  // namespace orvan
