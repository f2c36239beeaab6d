#include "linux/dbus/PortalRequest.h"

#include <utility>

namespace orvan {

namespace {

constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";

// The arguments before the options, then the options with the handle token added.
GVariant* parametersWithToken(GVariant* arguments, GVariant* options, const std::string& token) {
    const VariantPtr leading = takeVariant(arguments != nullptr ? arguments : g_variant_new("()"));
    const VariantPtr given = takeVariant(options != nullptr ? options : g_variant_new("a{sv}", nullptr));
    GVariantBuilder all;
    g_variant_builder_init(&all, G_VARIANT_TYPE_TUPLE);
    for (gsize index = 0; index < g_variant_n_children(leading.get()); ++index) {
        const VariantPtr child(g_variant_get_child_value(leading.get(), index));
        g_variant_builder_add_value(&all, child.get());
    }
    GVariantBuilder withToken;
    g_variant_builder_init(&withToken, G_VARIANT_TYPE_VARDICT);
    for (gsize index = 0; index < g_variant_n_children(given.get()); ++index) {
        const VariantPtr entry(g_variant_get_child_value(given.get(), index));
        g_variant_builder_add_value(&withToken, entry.get());
    }
    g_variant_builder_add(&withToken, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add_value(&all, g_variant_builder_end(&withToken));
    return g_variant_builder_end(&all);
}

}  // namespace

struct PortalRequest::State : std::enable_shared_from_this<State> {
    GObjectPtr<GDBusConnection> bus;
    GObjectPtr<GCancellable> cancellable = GObjectPtr<GCancellable>::take(g_cancellable_new());
    std::string path;
    guint subscription = 0;
    Answered answered;
    bool done = false;

    void watch(const std::string& handle) {
        unwatch();
        path = handle;
        subscription = g_dbus_connection_signal_subscribe(
            bus.get(), kPortalService, kRequestInterface, "Response", path.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, &State::responded, new std::weak_ptr<State>(weak_from_this()),
            +[](gpointer data) { delete static_cast<std::weak_ptr<State>*>(data); });
    }

    void unwatch() {
        if (subscription != 0) g_dbus_connection_signal_unsubscribe(bus.get(), subscription);
        subscription = 0;
    }

    // The answer goes out last: the callback may destroy the request that owns this state.
    void finish(const PortalAnswer& answer) {
        done = true;
        unwatch();
        const Answered deliver = std::move(answered);
        if (deliver) deliver(answer);
    }

    static void responded(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant* parameters, gpointer data) {
        const auto state = static_cast<std::weak_ptr<State>*>(data)->lock();
        if (!state || state->done || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
        guint32 response = 2;
        GVariant* raw = nullptr;
        g_variant_get(parameters, "(u@a{sv})", &response, &raw);
        const VariantPtr results(raw);
        state->finish(PortalAnswer{response, results.get(), {}});
    }

    static void called(GObject* source, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<std::weak_ptr<State>> weak(static_cast<std::weak_ptr<State>*>(data));
        GError* error = nullptr;
        const VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
        const auto state = weak->lock();
        if (!state || state->done) {
            if (error != nullptr) g_error_free(error);
            return;
        }
        if (!reply) {
            std::string message = error != nullptr && error->message != nullptr ? error->message : "?";
            if (error != nullptr) g_error_free(error);
            state->finish(PortalAnswer{2, nullptr, std::move(message)});
            return;
        }
        const gchar* handle = nullptr;
        g_variant_get(reply.get(), "(&o)", &handle);
        // A portal older than handle tokens picks its own path: follow it there.
        if (state->path != handle) state->watch(handle);
    }
};

PortalRequest::PortalRequest(GDBusConnection* bus, const char* interface, const char* method, GVariant* arguments,
                             GVariant* options, Answered answered)
    : state_(std::make_shared<State>()) {
    state_->bus = GObjectPtr<GDBusConnection>::retain(bus);
    state_->answered = std::move(answered);
    const std::string token = newToken();
    GVariant* parameters = parametersWithToken(arguments, options, token);
    state_->watch(objectPath(bus, "request", token));
    g_dbus_connection_call(bus, kPortalService, kPortalObject, interface, method, parameters, G_VARIANT_TYPE("(o)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, state_->cancellable.get(), &State::called,
                           new std::weak_ptr<State>(state_));
}

PortalRequest::~PortalRequest() {
    state_->done = true;
    g_cancellable_cancel(state_->cancellable.get());
    state_->unwatch();
}

std::string PortalRequest::newToken() { return "orvan" + std::to_string(g_random_int()); }

std::string PortalRequest::objectPath(GDBusConnection* bus, const char* folder, const std::string& token) {
    // ":1.42" is "1_42" in the portal's paths.
    std::string sender = g_dbus_connection_get_unique_name(bus) != nullptr ? g_dbus_connection_get_unique_name(bus) : "";
    if (!sender.empty() && sender.front() == ':') sender.erase(0, 1);
    for (char& c : sender) {
        if (c == '.') c = '_';
    }
    return std::string(kPortalObject) + "/" + folder + "/" + sender + "/" + token;
}

}  // namespace orvan
