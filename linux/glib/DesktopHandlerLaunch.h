#pragma once

#include <gio/gio.h>

#include <string>

#include "linux/glib/GObjectPtr.h"

namespace orvan {

// This machine's default handler for `uri`, found as GIO finds it: the URI scheme's handler, else
// the file type's. Empty when there is none here (inside a sandbox GIO then asks the desktop portal).
GObjectPtr<GAppInfo> defaultHandler(const std::string& uri);

// Starts `handler` with `uri` under the umask the user started the shell with, not the shell's
// private one: what a browser or an installer writes is the user's, as from any other program. A
// handler the session bus starts (D-Bus activation) never inherited the shell's umask anyway.
bool launchAsUser(GAppInfo* handler, const std::string& uri, GError** error);

}  // namespace orvan
