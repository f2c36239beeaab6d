#pragma once

#include <gtk/gtk.h>

#include "platform/ApplicationActivator.h"

namespace orvan {

// Presents the application's active (or first) window; with no window open, activates the
// application, which opens one.
class GtkApplicationActivator final : public ApplicationActivator {
public:
    explicit GtkApplicationActivator(GtkApplication* application) : application_(application) {}
    void bringToFront(const std::string& activationToken) override;

private:
    GtkApplication* application_;  // owned by OfficeApplication, which outlives this
};

}  // namespace orvan
