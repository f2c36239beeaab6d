#pragma once

#include <gtk/gtk.h>

namespace orvan {

// The display a floating panel can be placed on, kept above other windows and kept from taking the
// focus: an X display. On a Wayland desktop that is the XWayland display beside the Wayland one,
// since a Wayland toplevel can do none of the three. None where no X display can be opened.
GdkDisplay* floatingPanelDisplay();

}  // namespace orvan
