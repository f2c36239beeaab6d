#include "linux/glib/GioNetworkMonitor.h"

#include <gio/gio.h>

namespace orvan {

namespace {

// Owns one signal connection; the monitor is GIO's for the life of the process.
class NetworkChangedConnection final : public NetworkSubscription {
public:
    explicit NetworkChangedConnection(std::function<void(bool)> changed)
        : handler_(g_signal_connect_data(
              g_network_monitor_get_default(), "network-changed",
              G_CALLBACK(+[](GNetworkMonitor*, gboolean available, gpointer data) {
                  auto report = *static_cast<std::function<void(bool)>*>(data);  // it may unsubscribe
                  report(available == TRUE);
              }),
              new std::function<void(bool)>(std::move(changed)),
              [](gpointer data, GClosure*) { delete static_cast<std::function<void(bool)>*>(data); },
              static_cast<GConnectFlags>(0))) {}
    ~NetworkChangedConnection() override { g_signal_handler_disconnect(g_network_monitor_get_default(), handler_); }
    NetworkChangedConnection(const NetworkChangedConnection&) = delete;
    NetworkChangedConnection& operator=(const NetworkChangedConnection&) = delete;

private:
    gulong handler_;
};

}  // namespace

bool GioNetworkMonitor::isNetworkAvailable() const {
    return g_network_monitor_get_network_available(g_network_monitor_get_default()) == TRUE;
}

std::unique_ptr<NetworkSubscription> GioNetworkMonitor::observe(std::function<void(bool available)> changed) {
    return std::make_unique<NetworkChangedConnection>(std::move(changed));
}

}  // namespace orvan
