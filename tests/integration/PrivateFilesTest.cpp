// Under the usual umask 022: the shell's own files, the engine's, and those an earlier version left.
#include <sys/stat.h>

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
    ::umask(saved);
}

}  // namespace
}  // namespace orvan::testing
