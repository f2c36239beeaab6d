#pragma once

#include <gio/gio.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "linux/glib/GObjectPtr.h"

namespace orvan::testing {

// A service of the tests' own on the session bus, on a connection of its own as a real daemon or
// panel has: it serves the first `interfaces` interfaces of `xml` at `path`, each method call going
// to `handle`. Calls are answered from the default main context, so tests iterate it. Throws when
// the bus cannot be reached.
class FakeBusService {
public:
    using Handler = std::function<void(const std::string& sender, const std::string& method, GVariant* parameters,
                                       GDBusMethodInvocation* invocation)>;

    FakeBusService(const char* xml, std::string path, Handler handle, std::size_t interfaces = 1,
                   GDBusInterfaceGetPropertyFunc property = nullptr);
    ~FakeBusService();  // a service that goes away: the connection closes
    FakeBusService(const FakeBusService&) = delete;
    FakeBusService& operator=(const FakeBusService&) = delete;

    // Takes `name`; false when someone else holds it.
    bool own(const char* name);
    // Gives `name` up again; true when it was ours.
    bool release(const char* name);
    void emit(const char* interface, const char* signal, GVariant* parameters, const char* destination = nullptr,
              const char* path = nullptr);
    GDBusConnection* connection() const { return connection_.get(); }

private:
    // Asks the bus daemon; the answer's number, 0 on error.
    guint32 askBus(const char* method, GVariant* parameters);

    GObjectPtr<GDBusConnection> connection_;
    std::string path_;
    Handler handle_;
    std::vector<guint> registrations_;
};

}  // namespace orvan::testing
