#include <gtest/gtest.h>

#include "plugin/UpdateController.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeMainTimers.h"
#include "tests/fakes/FakeUserDefaults.h"

namespace orvan {
namespace {

using namespace orvan::testing;

struct FixedFeed final : UpdateFeed {
    void fetch(const std::string&, std::function<void(Fetched)> done) override {
        ++fetches;
        done(answer);
    }
    void download(const std::string&, std::uint64_t, const std::filesystem::path&, std::function<void(double)>,
                  std::function<void(std::optional<std::string>)>) override {}
    Fetched answer;
    int fetches = 0;
};

struct SkippingDialog final : UpdateDialog {
    void showOffer(const UpdateOffer& offer, std::function<void(Choice)> chosen) override {
        offers.push_back(offer.version);
        chosen(Choice::skip);
    }
    void showProgress(double) override {}
    void showMessage(const std::string& title, const std::string&) override { messages.push_back(title); }
    void bringForward() override { messages.push_back("forward"); }
    void close() override {}
    std::vector<std::string> offers, messages;
};

// A feed that answers when the test says so.
struct HeldFeed final : UpdateFeed {
    void fetch(const std::string&, std::function<void(Fetched)> done) override { fetched.push_back(std::move(done)); }
    void download(const std::string&, std::uint64_t, const std::filesystem::path&, std::function<void(double)>,
                  std::function<void(std::optional<std::string>)> done) override {
        downloads.push_back(std::move(done));
    }
    std::vector<std::function<void(Fetched)>> fetched;
    std::vector<std::function<void(std::optional<std::string>)>> downloads;
};

// Answers an offer with "download".
struct DownloadingDialog final : UpdateDialog {
    void showOffer(const UpdateOffer&, std::function<void(Choice)> chosen) override { chosen(Choice::download); }
    void showProgress(double) override {}
    void showMessage(const std::string& title, const std::string&) override { shown.push_back(title); }
    void bringForward() override { shown.push_back("forward"); }
    void close() override {}
    std::vector<std::string> shown;
};

TEST(UpdateControllerTest, AutomaticChecksComeADayApartLeaveASkippedVersionAloneAndFailIntoTheLog) {
    auto log = CapturingLogSink::install();
    auto feed = std::make_shared<FixedFeed>();
    feed->answer.body = R"(<rss version="2.0" xmlns:k="https://tomoriva.jp/xmlns/kestrin-update"><channel><item>)"
                        R"(<enclosure url="https://x/p" k:version="2.0" k:edSignature="c2ln"/></item></channel></rss>)";
    auto timers = std::make_shared<FakeMainTimers>();
    auto dialog = std::make_shared<SkippingDialog>();
    auto defaults = std::make_shared<FakeUserDefaults>();
    std::int64_t now = 1'000'000;
    const auto wait = [&](std::int64_t seconds) {
        now += seconds;
        timers->advance(std::chrono::seconds(seconds));
    };
    const auto make = [&] {
        return std::make_shared<UpdateController>(
            UpdateController::Settings{.feedUrl = "https://x/appcast.xml", .publicKey = "", .automaticChecks = true, .currentVersion = "1.0"},
            UpdateController::Ports{.feed = feed, .verifier = nullptr, .opener = nullptr, .dialog = dialog, .timers = timers,
                                    .defaults = defaults, .now = [&] { return now; }, .downloads = {}});
    };
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
    EXPECT_TRUE(dialog->messages.empty());
    EXPECT_EQ(log->lines(), std::vector<std::string>{"Kestrin: アップデートの確認に失敗: アップデート情報を読み込めません: boom"});
    setLogSink(nullptr);
}

TEST(UpdateControllerTest, AskingWhileACheckOrADownloadRunsBringsItForwardAndIsAnswered) {
    auto feed = std::make_shared<HeldFeed>();
    auto timers = std::make_shared<FakeMainTimers>();
    auto dialog = std::make_shared<DownloadingDialog>();
    auto controller = std::make_shared<UpdateController>(
        UpdateController::Settings{.feedUrl = "https://x/appcast.xml", .publicKey = "", .automaticChecks = true, .currentVersion = "1.0"},
        UpdateController::Ports{.feed = feed, .verifier = nullptr, .opener = nullptr, .dialog = dialog, .timers = timers,
                                .defaults = std::make_shared<FakeUserDefaults>(), .now = [] { return std::int64_t{1'000'000}; },
                                .downloads = {}});
    controller->startUpdater();
    timers->advance(UpdateController::kFirstCheckDelay);  // a check of its own is under way
    ASSERT_EQ(feed->fetched.size(), 1u);
    controller->checkForUpdates();
    EXPECT_EQ(feed->fetched.size(), 1u) << "one check at a time";
    feed->fetched[0]({R"(<rss version="2.0"><channel/></rss>)", ""});
    EXPECT_EQ(dialog->shown, (std::vector<std::string>{"forward", "トモリバは最新です"})) << "the asker hears the answer";

    controller->checkForUpdates();
    ASSERT_EQ(feed->fetched.size(), 2u);
    feed->fetched[1]({R"(<rss version="2.0" xmlns:k="https://tomoriva.jp/xmlns/kestrin-update"><channel><item>)"
                      R"(<enclosure url="https://x/p" k:version="2.0" k:edSignature="c2ln"/></item></channel></rss>)", ""});
    ASSERT_EQ(feed->downloads.size(), 1u);
    controller->checkForUpdates();
    EXPECT_EQ(feed->fetched.size(), 2u);
    EXPECT_EQ(dialog->shown.back(), "forward") << "the download's window comes forward";
}

}  // namespace
}  // namespace orvan
