#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/SystemLog.h"
#include "platform/linux/DBusNotificationCenter.h"
#include "tests/integration/FakeNotificationServer.h"
#include "tests/integration/GtkTestSupport.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using namespace std::chrono_literals;
using Notification = FakeNotificationServer::Notification;
using Hint = FakeNotificationServer::Hint;

class RecordingSink final : public LogSink {
public:
    void write(std::string_view line) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

NotificationRequest request(std::string identifier, std::string title, std::optional<std::string> body = {},
                            bool sound = true, nlohmann::json userInfo = nlohmann::json::object()) {
    NotificationRequest r;
    r.identifier = std::move(identifier);
    r.title = std::move(title);
    r.body = std::move(body);
    r.sound = sound;
    r.userInfo = std::move(userInfo);
    return r;
}

// Callbacks write through shared pointers: one that comes after a failed wait finds live memory.
std::optional<NotificationAuthorization> authorizationOf(UserNotificationCenter& center) {
    auto result = std::make_shared<std::optional<NotificationAuthorization>>();
    center.authorization([result](NotificationAuthorization a) { *result = a; });
    runUntil([&] { return result->has_value(); }, 5s);
    return *result;
}

std::optional<bool> requestAuthorizationOf(UserNotificationCenter& center) {
    auto result = std::make_shared<std::optional<bool>>();
    center.requestAuthorization([result](bool granted) { *result = granted; });
    runUntil([&] { return result->has_value(); }, 5s);
    return *result;
}

class DBusNotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        setLogSink(log);
        ASSERT_TRUE(server.own()) << "org.freedesktop.Notifications is already owned on this bus";
    }

    void TearDown() override { setLogSink(nullptr); }

    bool received(std::size_t count) {
        return runUntil([&] { return server.notifications.size() >= count; }, 5s);
    }

    const Notification* withSummary(const std::string& summary) const {
        auto found = std::find_if(server.notifications.begin(), server.notifications.end(),
                                  [&](const Notification& n) { return n.summary == summary; });
        return found != server.notifications.end() ? &*found : nullptr;
    }

    // Lines our adapter wrote to the system log.
    std::vector<std::string> notificationLogLines() {
        std::vector<std::string> ours;
        for (auto& line : log->lines()) {
            if (line.rfind("Notifications: ", 0) == 0) ours.push_back(line);
        }
        return ours;
    }

    // Whether "denied" can be observed at all: a bus that starts a real server on demand would
    // answer for the missing fake.
    bool nobodyCanAnswer() const { return !server.nameIsActivatable(); }

    std::shared_ptr<RecordingSink> log = std::make_shared<RecordingSink>();
    FakeNotificationServer server;
};

TEST_F(DBusNotificationCenterTest, ANotificationReachesTheServerWithTitleBodyAndSound) {
    DBusNotificationCenter center;
    center.add(request("meeting-1", "会議が始まります", "営業部 & 開発部 <定例>", true, {{"path", "/meetings/1"}}));

    ASSERT_TRUE(received(1));
    const Notification& n = server.notifications[0];
    EXPECT_EQ(n.appName, "OrvanOffice");
    EXPECT_EQ(n.replacesId, 0u);
    EXPECT_EQ(n.appIcon, "");
    EXPECT_EQ(n.summary, "会議が始まります");
    // This server has no body-markup: the text goes as it is.
    EXPECT_EQ(n.body, "営業部 & 開発部 <定例>");
    EXPECT_EQ(n.actions, (std::vector<std::string>{"default", ""}));
    EXPECT_EQ(n.expireTimeout, -1);
    ASSERT_TRUE(n.hints.contains("sound-name"));
    EXPECT_EQ(n.hints.at("sound-name"), (Hint{"s", "message-new-instant"}));
    EXPECT_FALSE(n.hints.contains("suppress-sound"));
    EXPECT_TRUE(notificationLogLines().empty());
}

TEST_F(DBusNotificationCenterTest, WithoutSoundTheSoundIsSuppressedAndAMissingBodyIsEmpty) {
    DBusNotificationCenter center;
    center.add(request("quiet", "静かな通知", std::nullopt, false));

    ASSERT_TRUE(received(1));
    const Notification& n = server.notifications[0];
    EXPECT_EQ(n.summary, "静かな通知");
    EXPECT_EQ(n.body, "");
    ASSERT_TRUE(n.hints.contains("suppress-sound"));
    EXPECT_EQ(n.hints.at("suppress-sound"), (Hint{"b", "true"}));
    EXPECT_FALSE(n.hints.contains("sound-name"));
}

TEST_F(DBusNotificationCenterTest, TheSameIdentifierReplacesTheEarlierNotificationAndAnotherDoesNot) {
    DBusNotificationCenter center;
    center.add(request("deal-7", "First"));
    ASSERT_TRUE(received(1));
    ASSERT_EQ(authorizationOf(center), NotificationAuthorization::authorized);  // its reply is handled

    center.add(request("deal-7", "Second"));
    ASSERT_TRUE(received(2));
    center.add(request("deal-8", "Third"));
    ASSERT_TRUE(received(3));

    const auto& all = server.notifications;
    EXPECT_EQ(all[0].replacesId, 0u);
    EXPECT_NE(all[0].id, 0u);
    EXPECT_EQ(all[1].summary, "Second");
    EXPECT_EQ(all[1].replacesId, all[0].id);
    EXPECT_EQ(all[2].summary, "Third");
    EXPECT_EQ(all[2].replacesId, 0u);
    EXPECT_NE(all[2].id, all[0].id);
}

TEST_F(DBusNotificationCenterTest, ARequestRightBehindAnotherWithTheSameIdentifierStillReplacesIt) {
    DBusNotificationCenter center;
    // No main-loop turn in between: the second cannot know the first's id yet.
    center.add(request("chat", "One"));
    center.add(request("chat", "Two"));
    center.add(request("task", "Three"));

    ASSERT_TRUE(received(3));
    ASSERT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
    EXPECT_EQ(server.notifications.size(), 3u);
    const Notification* one = withSummary("One");
    const Notification* two = withSummary("Two");
    const Notification* three = withSummary("Three");
    ASSERT_TRUE(one && two && three);
    EXPECT_EQ(one->replacesId, 0u);
    EXPECT_EQ(two->replacesId, one->id);
    EXPECT_EQ(three->replacesId, 0u);
}

TEST_F(DBusNotificationCenterTest, RequestsMadeBeforeTheBusIsReadyStillArrive) {
    DBusNotificationCenter center;
    // The connection is only handed over from the main loop, which has not run since construction.
    auto authorization = std::make_shared<std::optional<NotificationAuthorization>>();
    center.authorization([authorization](NotificationAuthorization a) { *authorization = a; });
    center.add(request("early-1", "Early one"));
    center.add(request("early-2", "Early two", "body", false));

    ASSERT_TRUE(received(2));
    ASSERT_TRUE(runUntil([&] { return authorization->has_value(); }, 5s));
    EXPECT_EQ(**authorization, NotificationAuthorization::authorized);
    ASSERT_NE(withSummary("Early one"), nullptr);
    ASSERT_NE(withSummary("Early two"), nullptr);
    EXPECT_EQ(withSummary("Early two")->body, "body");
}

TEST_F(DBusNotificationCenterTest, AServerThatRendersMarkupGetsTheBodyEscaped) {
    ASSERT_TRUE(server.release());
    FakeNotificationServer markupServer({"actions", "body", "body-markup"});
    ASSERT_TRUE(markupServer.own());

    DBusNotificationCenter center;
    center.add(request("m", "見積 <A&B>", "A & B <c>"));
    ASSERT_TRUE(runUntil([&] { return !markupServer.notifications.empty(); }, 5s));
    EXPECT_EQ(markupServer.notifications[0].body, "A &amp; B &lt;c&gt;");
    // The summary is plain text for every server.
    EXPECT_EQ(markupServer.notifications[0].summary, "見積 <A&B>");
    EXPECT_GE(markupServer.capabilitiesCalls, 1);
}

TEST_F(DBusNotificationCenterTest, AuthorizedWhileAServerAnswersDeniedOnceItHasGone) {
    if (!nobodyCanAnswer()) GTEST_SKIP() << "the bus can start a notification server by itself";
    DBusNotificationCenter center;
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
    EXPECT_EQ(requestAuthorizationOf(center), true);
    EXPECT_GE(server.serverInformationCalls + server.capabilitiesCalls, 2);

    ASSERT_TRUE(server.release());
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::denied);
    EXPECT_EQ(requestAuthorizationOf(center), false);

    // Asked afresh each time, not remembered.
    ASSERT_TRUE(server.own());
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
}

TEST_F(DBusNotificationCenterTest, WithNoServerEverItIsDeniedAndAFailedPostIsLoggedOnOneLine) {
    if (!nobodyCanAnswer()) GTEST_SKIP() << "the bus can start a notification server by itself";
    ASSERT_TRUE(server.release());
    DBusNotificationCenter center;
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::denied);
    EXPECT_EQ(requestAuthorizationOf(center), false);

    center.add(request("lost", "Nobody shows this"));
    ASSERT_TRUE(runUntil([&] { return !notificationLogLines().empty(); }, 5s));
    const auto lines = notificationLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find('\n'), std::string::npos);
    EXPECT_TRUE(server.notifications.empty());
}

TEST_F(DBusNotificationCenterTest, WithoutABusItIsDeniedAndLogsOnceAndPostsNothing) {
    const std::string address = std::string("unix:path=") + g_get_tmp_dir() + "/orvan-no-such-bus-" +
                                std::to_string(g_get_monotonic_time());
    DBusNotificationCenter center(address);
    center.add(request("a", "Dropped one"));
    center.add(request("b", "Dropped two"));
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::denied);
    EXPECT_EQ(requestAuthorizationOf(center), false);
    center.add(request("c", "Dropped three"));
    // Were the adapter to reach the session bus after all, these would land at the server by now.
    spin(300ms);

    const auto lines = notificationLogLines();
    ASSERT_EQ(lines.size(), 1u) << (lines.empty() ? "" : lines.back());
    EXPECT_NE(lines[0].find("no session bus"), std::string::npos) << lines[0];
    EXPECT_TRUE(server.notifications.empty());
}

TEST_F(DBusNotificationCenterTest, OpeningANotificationHandsItsUserInfoAndActivationTokenToTheHandler) {
    DBusNotificationCenter center;
    auto responses = std::make_shared<std::vector<NotificationResponse>>();
    center.setResponseHandler([responses](const NotificationResponse& r) { responses->push_back(r); });
    center.add(request("a", "A", "first", true, {{"path", "/a"}}));
    center.add(request("b", "B", "second", true, {{"path", "/b"}, {"count", 2}}));
    ASSERT_TRUE(received(2));
    // A round trip behind both Notify replies: the centre knows both ids before any click.
    ASSERT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
    const std::uint32_t idA = withSummary("A")->id;
    const std::uint32_t idB = withSummary("B")->id;
    ASSERT_NE(idA, idB);

    server.emitActivationToken(idB, "token-b");
    server.emitActionInvoked(idB, "default");
    ASSERT_TRUE(runUntil([&] { return responses->size() >= 1; }, 5s));
    EXPECT_EQ((*responses)[0].userInfo, (nlohmann::json{{"path", "/b"}, {"count", 2}}));
    EXPECT_EQ((*responses)[0].activationToken, "token-b");

    // Signals arrive in order, so by the time A's click is handled the ones before it have been too.
    const std::uint32_t notOurs = std::max(idA, idB) + 100;
    server.emitActivationToken(notOurs, "stray-token");
    server.emitActionInvoked(notOurs, "default");
    server.emitActionInvoked(idA, "snooze");
    server.emitActionInvoked(idA, "default");
    ASSERT_TRUE(runUntil([&] { return responses->size() >= 2; }, 5s));
    spin(100ms);
    ASSERT_EQ(responses->size(), 2u);
    EXPECT_EQ((*responses)[1].userInfo, (nlohmann::json{{"path", "/a"}}));
    EXPECT_EQ((*responses)[1].activationToken, "");
}

TEST_F(DBusNotificationCenterTest, AClosedNotificationIsForgotten) {
    DBusNotificationCenter center;
    auto responses = std::make_shared<std::vector<NotificationResponse>>();
    center.setResponseHandler([responses](const NotificationResponse& r) { responses->push_back(r); });
    center.add(request("a", "A", {}, true, {{"path", "/a"}}));
    center.add(request("b", "B", {}, true, {{"path", "/b"}}));
    ASSERT_TRUE(received(2));
    ASSERT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
    const std::uint32_t idA = withSummary("A")->id;
    const std::uint32_t idB = withSummary("B")->id;

    server.emitNotificationClosed(idA, 2);
    server.emitActionInvoked(idA, "default");
    server.emitActionInvoked(idB, "default");
    ASSERT_TRUE(runUntil([&] { return !responses->empty(); }, 5s));
    spin(100ms);
    ASSERT_EQ(responses->size(), 1u);
    EXPECT_EQ((*responses)[0].userInfo, (nlohmann::json{{"path", "/b"}}));

    // Its identifier no longer points at the closed one.
    center.add(request("a", "A again"));
    ASSERT_TRUE(received(3));
    EXPECT_EQ(server.notifications[2].summary, "A again");
    EXPECT_EQ(server.notifications[2].replacesId, 0u);
}

TEST_F(DBusNotificationCenterTest, NothingIsCalledBackAfterTheCentreIsGone) {
    auto center = std::make_unique<DBusNotificationCenter>();
    auto responses = std::make_shared<int>(0);
    center->setResponseHandler([responses](const NotificationResponse&) { ++*responses; });
    center->add(request("a", "A"));
    ASSERT_TRUE(received(1));
    ASSERT_EQ(authorizationOf(*center), NotificationAuthorization::authorized);
    const std::uint32_t id = server.notifications[0].id;
    const int asked = server.serverInformationCalls;

    auto late = std::make_shared<int>(0);
    center->authorization([late](NotificationAuthorization) { ++*late; });
    center->requestAuthorization([late](bool) { ++*late; });
    center.reset();
    server.emitActionInvoked(id, "default");

    // The questions were sent before the centre went, and are answered; the answers go nowhere.
    ASSERT_TRUE(runUntil([&] { return server.serverInformationCalls == asked + 2; }, 5s));
    spin(300ms);
    EXPECT_EQ(*late, 0);
    EXPECT_EQ(*responses, 0);
}

}  // namespace
}  // namespace orvan
