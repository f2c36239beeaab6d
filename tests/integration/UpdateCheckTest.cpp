// Update checks against the stand-in's feed, over libsoup with the real signature check; the
// dialog and the desktop handler are the tests' own.
#include <gtest/gtest.h>

#include "linux/glib/GObjectPtr.h"
#include "linux/openssl/Ed25519PackageVerifier.h"
#include "linux/soup/SoupUpdateFeed.h"
#include "plugin/UpdateController.h"
#include "tests/fakes/FakeUserDefaults.h"
#include "tests/integration/GtkTestSupport.h"
#include "tests/support/PrivateTree.h"
#include "tests/support/TempDirectory.h"
#include "tools/webapp/StandInServer.h"
#include "tools/webapp/UpdateFeed.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;

// Answers an offer with "download" and keeps everything it was asked to show.
class ScriptedDialog final : public UpdateDialog {
public:
    void showOffer(const UpdateOffer& offer, std::function<void(Choice)> chosen) override {
        offers.push_back(offer);
        chosen(Choice::download);
    }
    void showProgress(double fraction) override { progress.push_back(fraction); }
    void showMessage(const std::string& title, const std::string& detail) override { messages.push_back(title + ": " + detail); }
    void bringForward() override {}
    void close() override { closed = true; }
    bool finished() const { return closed || !messages.empty(); }
    std::vector<UpdateOffer> offers;
    std::vector<double> progress;
    std::vector<std::string> messages;
    bool closed = false;
};

// The desktop handler: keeps what it was handed, as it was at that moment.
class KeepingOpener final : public PackageOpener {
public:
    std::optional<std::string> open(const std::filesystem::path& file) override {
        contents.push_back(testing::readText(file));
        return std::nullopt;
    }
    std::vector<std::string> contents;
};

// The stand-in over plain HTTP, again over HTTPS under a certificate this process trusts meanwhile,
// and a port that takes connections and never answers (listening, never accepting).
struct Servers {
    Servers() {
        const std::string pem = (dir.path() / "trusted.pem").string();
        g_spawn_command_line_sync(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=127.0.0.1 "
                                   "-addext subjectAltName=IP:127.0.0.1 -days 1 -keyout " + pem + " -out " + pem).c_str(),
                                  nullptr, nullptr, nullptr, nullptr);
        g_tls_backend_set_default_database(g_tls_backend_get_default(),
                                           GObjectPtr<GTlsDatabase>::take(g_tls_file_database_new(pem.c_str(), nullptr)).get());
        secure.start(0, testing::readText(pem));
    }
    ~Servers() { g_tls_backend_set_default_database(g_tls_backend_get_default(), nullptr); }
    testing::TempDirectory dir{"orvan-tls"};
    webapp::StandInServer plain, secure;
    unsigned plainPort = plain.start();
    GObjectPtr<GSocketListener> silent = GObjectPtr<GSocketListener>::take(g_socket_listener_new());
    std::string silentURL = "http://127.0.0.1:" + std::to_string(g_socket_listener_add_any_inet_port(silent.get(), nullptr, nullptr));
};

struct Check {
    Check(const std::string& feed, const std::string& current) {
        controller = std::make_shared<UpdateController>(
            UpdateController::Settings{.feedUrl = feed, .publicKey = webapp::updatePublicKey(), .automaticChecks = false, .currentVersion = current},
            UpdateController::Ports{.feed = std::make_shared<SoupUpdateFeed>(feed, 2s), .verifier = std::make_shared<Ed25519PackageVerifier>(),
                                    .opener = opener, .dialog = dialog, .timers = nullptr,
                                    .defaults = std::make_shared<testing::FakeUserDefaults>(), .now = [] { return std::int64_t{0}; },
                                    .downloads = downloads.path() / "updates"});
        controller->checkForUpdates();
        finished = testing::runUntil([&] { return dialog->finished(); }, 10s);
    }
    testing::TempDirectory downloads{"orvan-updates"};
    std::shared_ptr<ScriptedDialog> dialog = std::make_shared<ScriptedDialog>();
    std::shared_ptr<KeepingOpener> opener = std::make_shared<KeepingOpener>();
    std::shared_ptr<UpdateController> controller;
    bool finished = false;
};

// Only the package signed for the offered version is handed over, as a copy; no download is kept.
TEST(UpdateCheckTest, TheNewerVersionIsOfferedAndOnlyAVerifiedPackageIsHandedOver) {
    Servers servers;
    const auto& app = servers.plain;
    const std::string feed = app.baseURL() + "/updates/appcast.xml", package = std::string("OrvanOffice-") + webapp::kUpdateVersion + ".tar.gz";
    const std::string unsigned_ = std::string("ダウンロードしたファイルを検証できませんでした: バージョン ") +
                                  webapp::kUpdateVersion + " の署名を確かめられなかったため、ファイルを削除しました（署名が一致しません）。";
    const struct {
        std::string feed;
        std::string message;  // none: handed over
    } cases[] = {
        {feed, ""},
        {app.baseURL() + "/updates/redirect?to=" + feed, ""},
        {feed + "?tampered=1", unsigned_},
        {feed + "?downgrade=1", unsigned_},
        {feed + "?short=1", "ダウンロードに失敗しました: ファイルがアップデート情報の大きさ（" +
                                std::to_string(webapp::updatePackage().size() - 1) + " バイト）を超えています"},
        {feed + "?via=http://192.0.2.1/p.tar.gz", "ダウンロードに失敗しました: HTTPS 以外のアドレスは使えません: http://192.0.2.1/p.tar.gz"},
        // The stand-in names its package over plain HTTP to this machine even in a feed it serves over HTTPS.
        {servers.secure.baseURL() + "/updates/appcast.xml", "ダウンロードに失敗しました: HTTPS 以外のアドレスは使えません: http" +
                                                                servers.secure.baseURL().substr(5) + "/updates/" + package},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.feed);
        Check check(c.feed, "0.1.0");
        ASSERT_TRUE(check.finished);
        ASSERT_EQ(check.dialog->offers.size(), 1u);
        EXPECT_EQ(check.dialog->offers[0].version, webapp::kUpdateVersion);
        EXPECT_EQ(check.opener->contents, std::vector<std::string>(c.message.empty() ? 1 : 0, webapp::updatePackage()));
        EXPECT_EQ(check.dialog->messages, std::vector<std::string>(c.message.empty() ? 0 : 1, c.message));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(check.downloads.path() / "updates"), {}),
                  c.message.empty() ? 1 : 0) << "only the copy handed over is left";
        EXPECT_EQ(testing::notPrivate(check.downloads.path()), std::vector<std::string>{});
        const auto& progress = check.dialog->progress;
        EXPECT_TRUE(!c.message.empty() || (progress.size() >= 3 && progress.back() == 1.0)) << "the download shows its progress";
    }
}

TEST(UpdateCheckTest, AUserCheckSaysWhenNothingIsNewerOrTheFeedCannotBeUsed) {
    Servers servers;
    const auto& app = servers.plain;
    const std::string unread = "アップデートを確認できませんでした: アップデート情報を読み込めません: ";
    const struct {
        const char* name;
        std::string feed;
        std::string message;  // its beginning
    } cases[] = {
        {"up to date", app.baseURL() + "/updates/appcast.xml", "トモリバは最新です: バージョン 100.0 が最新のバージョンです。"},
        {"no feed there", app.baseURL() + "/updates/none.xml", "アップデートを確認できませんでした: アップデート情報を読み込めません: HTTP 404"},
        {"plain HTTP to another machine", "http://192.0.2.1/appcast.xml",
         "アップデートを確認できませんでした: アップデート情報を読み込めません: HTTPS 以外のアドレスは使えません"},
        {"redirected to plain HTTP elsewhere", app.baseURL() + "/updates/redirect?to=http://192.0.2.1/a", unread + "HTTPS 以外のアドレスは使えません: http://192.0.2.1/a"},
        {"over 1 MiB", app.baseURL() + "/updates/huge.xml", unread + "アップデート情報が大きすぎます"},
        {"a name that only begins like a loopback address", "http://127.0.0.1.evil.example/a", unread + "HTTPS 以外のアドレスは使えません"},
        {"localhost", "http://localhost:" + std::to_string(servers.plainPort) + "/updates/appcast.xml", "トモリバは最新です"},
        {"HTTPS redirected to plain HTTP on this machine", servers.secure.baseURL() + "/updates/redirect?to=" + app.baseURL() + "/updates/appcast.xml",
         unread + "HTTPS 以外のアドレスは使えません: " + app.baseURL() + "/updates/appcast.xml"},
        {"a server that never answers", servers.silentURL + "/appcast.xml", unread + "サーバーから 2 秒間応答がありません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Check check(c.feed, "100.0");
        ASSERT_TRUE(check.finished);
        EXPECT_TRUE(check.dialog->offers.empty());
        ASSERT_EQ(check.dialog->messages.size(), 1u);
        EXPECT_EQ(check.dialog->messages[0].substr(0, c.message.size()), c.message);
    }
}

}  // namespace
}  // namespace orvan
