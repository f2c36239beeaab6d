#pragma once

namespace orvan {

// Opens the desktop's privacy settings (GNOME's privacy panel) when the desktop has one; anywhere
// else it writes one log line and does nothing.
void openPrivacySettings();

}  // namespace orvan
