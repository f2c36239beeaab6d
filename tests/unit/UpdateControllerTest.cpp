#include <gtest/gtest.h>

#include "plugin/UpdateController.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeMainTimers.h"
#include "tests/fakes/FakeUserDefaults.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using Answer = std::function<void(std::optional<std::string>)>;

// The feed and the verifier: a fetch is answered at once with `answer` when there is one, otherwise
// when the test says so; downloads and verifications always wait for the test.
struct HeldFeed final : UpdateFeed, PackageVerifier {
    void fetch(const std::string&, std::function<void(Fetched)> done) override {
        ++fetches;
        if (answer) done(*answer);
        else fetched.push_back(std::move(done));
    }
    void download(const std::string&, std::uint64_t maxBytes, const std::filesystem::path&, std::function<void(double)>,
                  Answer done) override {
        limits.push_back(maxBytes);
        downloads.push_back(std::move(done));
    }
    void verifyCopy(const std::filesystem::path&, const std::string&, const std::string&, const std::string&,
                    const std::filesystem::path&, Answer done) override {
        verifications.push_back(std::move(done));
    }
    std::optional<Fetched> answer;
    int fetches = 0;
    std::vector<std::function<void(Fetched)>> fetched;
    std::vector<Answer> downloads, verifications;
    std::vector<std::uint64_t> limits;
};

// Answers every offer with `choice`; keeps the versions offered and the titles shown ("forward"
// when brought forward).
struct ChoosingDialog final : UpdateDialog {
    explicit ChoosingDialog(Choice answer) : choice(answer) {}
    void showOffer(const UpdateOffer& offer, std::function<void(Choice)> chosen) override {
        offers.push_back(offer.version);
        chosen(choice);
    }
    void showProgress(double) override {}
    void showMessage(const std::string& title, const std::string&) override { shown.push_back(title); }
    void bringForward() override { shown.push_back("forward"); }
    void close() override {}
    Choice choice;
    std::vector<std::string> offers, shown;
};

// A feed offering version 2.0, its enclosure carrying `attributes` besides.
std::string feedOffering(const std::string& attributes = "") {
    return R"(<rss version="2.0" xmlns:k="https://tomoriva.jp/xmlns/kestrin-update"><channel><item>)"
           R"(<enclosure url="https://x/p" k:version="2.0" k:edSignature="c2ln" )" + attributes + "/></item></channel></rss>";
}

std::shared_ptr<UpdateController> controllerWith(std::shared_ptr<HeldFeed> feed, std::shared_ptr<UpdateDialog> dialog,
                                                 std::shared_ptr<MainTimers> timers = nullptr,
                                                 std::shared_ptr<UserDefaults> defaults = std::make_shared<FakeUserDefaults>(),
                                                 std::function<std::int64_t()> now = [] { return std::int64_t{1'000'000}; }) {
    return std::make_shared<UpdateController>(
        UpdateController::Settings{.feedUrl = "https://x/appcast.xml", .publicKey = "", .automaticChecks = true, .currentVersion = "1.0"},
        UpdateController::Ports{.feed = feed, .verifier = feed, .opener = nullptr, .dialog = dialog, .timers = timers,
                                .defaults = defaults, .now = now, .downloads = {}});
}

TEST(UpdateControllerTest, AutomaticChecksComeADayApartLeaveASkippedVersionAloneAndFailIntoTheLog) {
    auto log = CapturingLogSink::install();
    auto feed = std::make_shared<HeldFeed>();
    feed->answer = UpdateFeed::Fetched{feedOffering(), ""};
    auto timers = std::make_shared<FakeMainTimers>();
    auto dialog = std::make_shared<ChoosingDialog>(UpdateDialog::Choice::skip);
    auto defaults = std::make_shared<FakeUserDefaults>();
    std::int64_t now = 1'000'000;
    const auto wait = [&](std::int64_t seconds) {
        now += seconds;
        timers->advance(std::chrono::seconds(seconds));
    };
    const auto make = [&] { return controllerWith(feed, dialog, timers, defaults, [&] { return now; }); };
    auto first = make();
    first->startUpdater();
    wait(59);
    EXPECT_EQ(feed->fetches, 0);
    wait(1);  // a minute after start
    EXPECT_EQ(dialog->offers, std::vector<std::string>{"2.0"});
    EXPECT_EQ(defaults->string(UpdateController::kSkippedVersionKey), "2.0");

    wait(3600);  // the next launch, an hour later: the day is counted from the last check
    first.reset();
    auto second = make();
    second->startUpdater();
    wait(86400 - 3600 - 1);
    EXPECT_EQ(feed->fetches, 1);
    wait(1);
    EXPECT_EQ(feed->fetches, 2);
    EXPECT_EQ(dialog->offers.size(), 1u) << "an automatic check leaves the skipped version alone";
    second->checkForUpdates();
    EXPECT_EQ(dialog->offers.size(), 2u) << "asking is asking";

    feed->answer = UpdateFeed::Fetched{std::nullopt, "boom"};
    wait(86400);
    EXPECT_EQ(feed->fetches, 4);
    EXPECT_TRUE(dialog->shown.empty());
    EXPECT_EQ(log->lines(), std::vector<std::string>{"Kestrin: アップデートの確認に失敗: アップデート情報を読み込めません: boom"});
    setLogSink(nullptr);
}

// One check or download (verification included) at a time: asking meanwhile brings it forward. A
// download takes no more than the ceiling, and a feed saying its package is larger is refused.
TEST(UpdateControllerTest, AskingWhileACheckADownloadOrItsVerificationRunsBringsItForwardAndTheCeilingHolds) {
    auto feed = std::make_shared<HeldFeed>();
    auto timers = std::make_shared<FakeMainTimers>();
    auto dialog = std::make_shared<ChoosingDialog>(UpdateDialog::Choice::download);
    auto controller = controllerWith(feed, dialog, timers);
    controller->startUpdater();
    timers->advance(UpdateController::kFirstCheckDelay);  // a check of its own is under way
    ASSERT_EQ(feed->fetches, 1);
    controller->checkForUpdates();
    EXPECT_EQ(feed->fetches, 1) << "one check at a time";
    feed->fetched[0]({R"(<rss version="2.0"><channel/></rss>)", ""});
    EXPECT_EQ(dialog->shown, (std::vector<std::string>{"forward", "トモリバは最新です"})) << "the asker hears the answer";

    controller->checkForUpdates();
    feed->fetched.at(1)({feedOffering(), ""});
    ASSERT_EQ(feed->downloads.size(), 1u);
    EXPECT_EQ(feed->limits, std::vector<std::uint64_t>{UpdateController::kMaxPackageBytes}) << "the feed gives no length";
    controller->checkForUpdates();
    feed->downloads[0](std::nullopt);
    ASSERT_EQ(feed->verifications.size(), 1u);
    controller->checkForUpdates();
    EXPECT_EQ(feed->fetches, 2) << "the download and its verification run";
    EXPECT_EQ(dialog->shown.back(), "forward") << "the download's window comes forward";
    feed->verifications[0]("署名が一致しません");
    EXPECT_EQ(dialog->shown.back(), "ダウンロードしたファイルを検証できませんでした");
    controller->checkForUpdates();
    EXPECT_EQ(feed->fetches, 3) << "free again once verified";
    feed->fetched.at(2)({feedOffering(R"(length="900000000000")"), ""});
    EXPECT_EQ(feed->downloads.size(), 1u) << "nothing fetched";
    EXPECT_EQ(dialog->shown.back(), "ダウンロードに失敗しました");
}

}  // namespace
}  // namespace orvan
