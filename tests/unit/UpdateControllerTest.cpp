#include <gtest/gtest.h>

#include "plugin/UpdateController.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeUserDefaults.h"

namespace orvan {
namespace {

using namespace orvan::testing;

struct FixedFeed final : UpdateFeed {
    void fetch(const std::string&, std::function<void(Fetched)> done) override { done(answer); }
    void download(const std::string&, const std::filesystem::path&, std::function<void(double)>,
                  std::function<void(std::optional<std::string>)>) override {}
    Fetched answer;
};

struct HeldTimers final : MainTimers {
    std::unique_ptr<MainTimer> schedule(std::chrono::milliseconds delay, bool, std::function<void()> task) override {
        delays.push_back(std::chrono::duration_cast<std::chrono::seconds>(delay).count());
        next = std::move(task);
        return std::make_unique<MainTimer>();
    }
    void fire() { std::exchange(next, nullptr)(); }
    std::vector<std::int64_t> delays;
    std::function<void()> next;
};

struct SkippingDialog final : UpdateDialog {
    void showOffer(const UpdateOffer& offer, std::function<void(Choice)> chosen) override {
        offers.push_back(offer.version);
        chosen(Choice::skip);
    }
    void showProgress(double) override {}
    void showMessage(const std::string& title, const std::string&) override { messages.push_back(title); }
    void close() override {}
    std::vector<std::string> offers, messages;
};

TEST(UpdateControllerTest, AutomaticChecksComeADayApartLeaveASkippedVersionAloneAndFailIntoTheLog) {
    auto log = CapturingLogSink::install();
    auto feed = std::make_shared<FixedFeed>();
    feed->answer.body = R"(<rss version="2.0" xmlns:k="https://tomoriva.jp/xmlns/kestrin-update"><channel><item>)"
                        R"(<enclosure url="https://x/p" k:version="2.0" k:edSignature="c2ln"/></item></channel></rss>)";
    auto timers = std::make_shared<HeldTimers>();
    auto dialog = std::make_shared<SkippingDialog>();
    auto defaults = std::make_shared<FakeUserDefaults>();
    std::int64_t now = 1'000'000;
    const auto make = [&] {
        return std::make_shared<UpdateController>(
            UpdateController::Settings{.feedUrl = "https://x/appcast.xml", .publicKey = "", .automaticChecks = true, .currentVersion = "1.0"},
            UpdateController::Ports{.feed = feed, .verifier = nullptr, .opener = nullptr, .dialog = dialog, .timers = timers,
                                    .defaults = defaults, .now = [&] { return now; }, .downloads = {}});
    };
    auto first = make();
    first->startUpdater();
    timers->fire();
    EXPECT_EQ(dialog->offers, std::vector<std::string>{"2.0"});
    EXPECT_EQ(defaults->string(UpdateController::kSkippedVersionKey), "2.0");

    now += 3600;  // the next launch, an hour later: the day is counted from the last check
    auto second = make();
    second->startUpdater();
    EXPECT_EQ(timers->delays, (std::vector<std::int64_t>{60, 86400, 86400 - 3600}));
    timers->fire();
    EXPECT_EQ(dialog->offers.size(), 1u) << "an automatic check leaves the skipped version alone";
    second->checkForUpdates();
    EXPECT_EQ(dialog->offers.size(), 2u) << "asking is asking";

    feed->answer = UpdateFeed::Fetched{std::nullopt, "boom"};
    timers->fire();
    EXPECT_TRUE(dialog->messages.empty());
    EXPECT_EQ(log->lines(), std::vector<std::string>{"Kestrin: アップデートの確認に失敗: アップデート情報を読み込めません: boom"});
    setLogSink(nullptr);
}

}  // namespace
}  // namespace orvan
