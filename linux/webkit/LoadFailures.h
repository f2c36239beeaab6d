#pragma once

#include <glib.h>

#include "platform/WebViewDelegate.h"

namespace orvan {

// What a load-failed error of the engine means. The network process hands over GIO's own errors
// (connections, name resolution, TLS) with their domains and codes intact.
LoadFailure loadFailureOf(const GError* error);

}  // namespace orvan
