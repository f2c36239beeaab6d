#include "linux/kestrin/UpdaterWiring.h"

#include <glib.h>

#include <ctime>

#include "linux/glib/GLibMainTimers.h"
#include "linux/glib/GioPackageOpener.h"
#include "linux/glib/JsonFileUserDefaults.h"
#include "linux/gtk/GtkUpdateDialog.h"
#include "linux/openssl/Ed25519PackageVerifier.h"
#include "linux/soup/SoupUpdateFeed.h"
#include "linux/plist/PlistInfoDictionary.h"

namespace orvan {

std::shared_ptr<UpdateController> makeUpdateController(const std::filesystem::path& infoPlist) {
    const PlistInfoDictionary info(infoPlist);
    const std::string feed = info.stringValue("UpdateFeedURL").value_or("");
    if (feed.empty()) return nullptr;
    return std::make_shared<UpdateController>(
        UpdateController::Settings{
            .feedUrl = feed,
            .publicKey = info.stringValue("UpdatePublicEDKey").value_or(""),
            .automaticChecks = info.stringValue("UpdateAutomaticChecks").value_or("YES") != "NO",
            .currentVersion = info.stringValue("CFBundleShortVersionString").value_or("0"),
        },
        UpdateController::Ports{
            .feed = std::make_shared<SoupUpdateFeed>(feed),
            .verifier = std::make_shared<Ed25519PackageVerifier>(),
            .opener = std::make_shared<GioPackageOpener>(),
            .dialog = std::make_shared<GtkUpdateDialog>(),
            .timers = std::make_shared<GLibMainTimers>(),
            .defaults = std::make_shared<JsonFileUserDefaults>(
                JsonFileUserDefaults::defaultFile().parent_path() / "kestrin-updates.json"),
            .now = [] { return static_cast<std::int64_t>(std::time(nullptr)); },
            .downloads = std::filesystem::path(g_get_user_cache_dir()) / "OrvanOffice" / "updates",
        });
}

}  // namespace orvan
