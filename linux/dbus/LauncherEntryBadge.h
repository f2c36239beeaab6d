#pragma once

#include <gio/gio.h>

#include <string>

#include "platform/ApplicationBadge.h"

namespace orvan {

// The icon badge as the launcher's count: a com.canonical.Unity.LauncherEntry "Update" signal for
// the application's desktop file, which docks and task bars that show counts listen for.
class LauncherEntryBadge final : public ApplicationBadge {
public:
    static constexpr const char* kPath = "/jp/tomoriva/OrvanOffice/LauncherEntry";
    static constexpr const char* kInterface = "com.canonical.Unity.LauncherEntry";

    // `desktopId`: the desktop file's name, e.g. "jp.tomoriva.OrvanOffice.desktop".
    explicit LauncherEntryBadge(std::string desktopId) : appUri_("application://" + desktopId) {}
    void setBadgeCount(std::int64_t count) override;

private:
    std::string appUri_;
};

}  // namespace orvan
