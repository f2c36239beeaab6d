// Under the usual umask 022: the shell's own files, the engine's, those an earlier version left, and
// the umask of programs started for the user (a handler writes its own down).
#include <sys/stat.h>

#include "linux/glib/GioPackageOpener.h"
#include "linux/glib/GioUrlOpener.h"
#include "linux/glib/JsonFileUserDefaults.h"
#include "platform/PrivateFiles.h"
#include "tests/integration/ShellWindowFixture.h"
#include "tests/support/PrivateTree.h"
#include "tests/support/TempDirectory.h"

namespace orvan::testing {
namespace {

namespace fs = std::filesystem;
using PrivateFilesTest = ShellWindowFixture;

TEST_F(PrivateFilesTest, SettingsRecordingsAndWebsiteDataAreTheUsersAlone) {
    const mode_t saved = ::umask(022);
    TempDirectory home;
    const auto data = home.path() / "data", cache = home.path() / "cache", config = home.path() / "config";
    writeFile(data / "recordings" / "old" / "mic.f32", "left by an earlier version");
    writeFile(home.path() / "elsewhere", "not ours");
    fs::create_symlink(home.path() / "elsewhere", data / "recordings" / "old" / "link");
    JsonFileUserDefaults(config / "OrvanOffice" / "defaults.json").setString("meetingPopupOrigin", "10,20");
    EXPECT_EQ(notPrivate(config), std::vector<std::string>{});

    private_files::keepPrivate({data, cache, config});
    services.webViewFactory = std::make_shared<WebKitWebViewFactory>(data, cache, webExtensionsDirectory(ORVAN_BUNDLE_DIR));
    evaluate(open(), "document.cookie = 'session=1; max-age=3600'; localStorage.setItem('k', 'v'); 0");
    ASSERT_TRUE(runUntil([&] { return fs::exists(data / "webkit" / "cookies.sqlite"); }));
    // Only the file the old recording's link points to stays as it was.
    EXPECT_EQ(notPrivate(home.path()), std::vector<std::string>{(home.path() / "elsewhere").string()});
    const auto handler = fs::path(g_get_user_data_dir()) / "applications/orvan-umask.desktop";
    const auto defaults = fs::path(g_get_user_config_dir()) / "mimeapps.list";
    writeFile(handler, "[Desktop Entry]\nType=Application\nName=u\nExec=sh -c \"umask >>" + (home.path() / "umask").string() + "\" sh %u\n");
    writeFile(defaults, "[Default Applications]\nx-scheme-handler/orvan-umask=orvan-umask.desktop\nx-scheme-handler/file=orvan-umask.desktop\n");
    ASSERT_TRUE(runUntil([] { return GObjectPtr<GAppInfo>::take(g_app_info_get_default_for_uri_scheme("orvan-umask")).get(); }));
    GioUrlOpener().open(*Url::parse("orvan-umask:x"), nullptr);
    EXPECT_EQ(GioPackageOpener().open(home.path() / "elsewhere"), std::nullopt);
    EXPECT_TRUE(runUntil([&] { return readText(home.path() / "umask") == "0022\n0022\n"; })) << readText(home.path() / "umask");
    fs::remove(handler);
    fs::remove(defaults);
    ::umask(saved);
}

}  // namespace
}  // namespace orvan::testing
