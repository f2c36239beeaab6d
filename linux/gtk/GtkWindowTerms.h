#pragma once

#include <gtk/gtk.h>

namespace orvan {

// A window that can become the application's main window: a top-level window of its own, not a
// dialog or sheet over another one.
bool canBecomeMain(GtkWindow* window);
// Mapped and not iconified: the user can see it (perhaps under other windows).
bool isShowing(GtkWindow* window);
// Some main-capable window of `application` is showing.
bool hasShowingMainWindow(GtkApplication* application);

}  // namespace orvan
