#include "linux/webkit/LoadFailures.h"

#include <gio/gio.h>
#include <webkit2/webkit2.h>

namespace orvan {

LoadFailure loadFailureOf(const GError* error) {
    if (error == nullptr) return LoadFailure::other;
    if (error->domain == G_RESOLVER_ERROR) return LoadFailure::hostNotFound;
    if (error->domain == G_TLS_ERROR) return LoadFailure::insecureConnection;
    if (error->domain == WEBKIT_NETWORK_ERROR) {
        if (error->code == WEBKIT_NETWORK_ERROR_CANCELLED) return LoadFailure::cancelled;
        return error->code == WEBKIT_NETWORK_ERROR_TRANSPORT ? LoadFailure::connectionFailed : LoadFailure::other;
    }
    if (error->domain != G_IO_ERROR) return LoadFailure::other;
    switch (error->code) {
    case G_IO_ERROR_CANCELLED: return LoadFailure::cancelled;
    case G_IO_ERROR_TIMED_OUT: return LoadFailure::timedOut;
    case G_IO_ERROR_NETWORK_UNREACHABLE:
    case G_IO_ERROR_HOST_UNREACHABLE: return LoadFailure::networkUnreachable;
    case G_IO_ERROR_HOST_NOT_FOUND: return LoadFailure::hostNotFound;
    case G_IO_ERROR_CONNECTION_REFUSED:
    case G_IO_ERROR_CONNECTION_CLOSED:  // also a reset by the peer, and a broken pipe
    case G_IO_ERROR_NOT_CONNECTED:
    case G_IO_ERROR_PARTIAL_INPUT:  // the connection ended before the whole answer came
    case G_IO_ERROR_PROXY_FAILED: return LoadFailure::connectionFailed;
    default: return LoadFailure::other;
    }
}

}  // namespace orvan
