#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "linux/webkit/ShellServices.h"

namespace orvan {

inline constexpr int kDefaultWindowWidth = 1280;
inline constexpr int kDefaultWindowHeight = 820;

// Opens one window whose only content is a web view showing the web application. The window owns
// its coordinator and web view; both go when it is destroyed. `application` may be null (tests).
GtkWindow* openOfficeWindow(GtkApplication* application, const ShellServices& services);

// The coordinator of a window made by openOfficeWindow, for tests.
std::shared_ptr<Coordinator> coordinatorOfWindow(GtkWindow* window);

}  // namespace orvan
