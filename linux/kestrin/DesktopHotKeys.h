#pragma once

#include <memory>

#include "platform/GlobalHotKeys.h"

namespace orvan {

// The global hot keys of the desktop the application runs on: X key grabs when GTK talks to an
// X server (also XWayland), otherwise the desktop portal's global shortcuts.
std::shared_ptr<GlobalHotKeys> desktopHotKeys();

}  // namespace orvan
