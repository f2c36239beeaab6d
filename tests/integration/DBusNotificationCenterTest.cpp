#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "linux/dbus/DBusNotificationCenter.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/integration/MockNotificationServer.h"
#include "tests/integration/GtkTestSupport.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using namespace std::chrono_literals;
using Notification = MockNotificationServer::Notification;

NotificationRequest request(std::string identifier, std::string title, std::optional<std::string> body = {},
                            bool sound = true, nlohmann::json userInfo = nlohmann::json::object()) {
    return {std::move(identifier), std::move(title), std::move(body), sound, std::move(userInfo)};
}

// Callbacks write through shared pointers: one that comes after a failed wait finds live memory.
std::optional<NotificationAuthorization> authorizationOf(UserNotificationCenter& center) {
    auto result = std::make_shared<std::optional<NotificationAuthorization>>();
    center.authorization([result](NotificationAuthorization a) { *result = a; });
    runUntil([&] { return result->has_value(); }, 5s);
    return *result;
}

// The test session's bus has no service directories, so nothing but our fake ever answers.
class DBusNotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << "org.freedesktop.Notifications is already owned"; }

    bool received(std::size_t count) {
        return runUntil([&] { return server.notifications().size() >= count; }, 5s);
    }
    std::optional<Notification> withSummary(const std::string& summary) const {
        const auto all = server.notifications();
        auto found = std::find_if(all.begin(), all.end(), [&](const Notification& n) { return n.summary == summary; });
        return found != all.end() ? std::optional(*found) : std::nullopt;
    }

    MockNotificationServer server;
};

TEST_F(DBusNotificationCenterTest, TitleBodyAndSoundReachTheServerAndTheSameIdentifierReplacesEvenRightBehind) {
    DBusNotificationCenter center;
    center.add(request("loud", "会議が始まります", "営業部 & 開発部 <定例>", true));
    center.add(request("quiet", "静かな通知", std::nullopt, false));
    // No main-loop turn in between: the second cannot know the first's id yet.
    center.add(request("chat", "One"));
    center.add(request("chat", "Two"));
    ASSERT_TRUE(received(4));
    ASSERT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
    center.add(request("chat", "Three"));
    ASSERT_TRUE(received(5));

    const auto loud = withSummary("会議が始まります");
    const auto quiet = withSummary("静かな通知");
    ASSERT_TRUE(loud && quiet);
    // This server has no body-markup: the text goes as it is.
    EXPECT_EQ(loud->body, "営業部 & 開発部 <定例>");
    EXPECT_TRUE(loud->hints.contains("sound-name"));
    EXPECT_FALSE(loud->hints.contains("suppress-sound"));
    EXPECT_EQ(quiet->body, "");
    EXPECT_EQ(quiet->hints.at("suppress-sound"), "true") << "a boolean, not a string";
    EXPECT_FALSE(quiet->hints.contains("sound-name"));

    const auto one = withSummary("One");
    const auto two = withSummary("Two");
    const auto three = withSummary("Three");
    ASSERT_TRUE(one && two && three);
    EXPECT_EQ(one->replacesId, 0u);
    EXPECT_EQ(two->replacesId, one->id);
    EXPECT_EQ(three->replacesId, two->id);
    EXPECT_EQ(quiet->replacesId, 0u);
}

TEST_F(DBusNotificationCenterTest, AServerThatRendersMarkupGetsTheBodyEscaped) {
    ASSERT_TRUE(server.stop());
    MockNotificationServer markupServer("actions body body-markup");
    ASSERT_TRUE(markupServer.start());

    DBusNotificationCenter center;
    center.add(request("m", "見積 <A&B>", "A & B <c>"));
    ASSERT_TRUE(runUntil([&] { return !markupServer.notifications().empty(); }, 5s));
    EXPECT_EQ(markupServer.notifications()[0].body, "A &amp; B &lt;c&gt;");
    // The summary is plain text for every server.
    EXPECT_EQ(markupServer.notifications()[0].summary, "見積 <A&B>");
}

TEST_F(DBusNotificationCenterTest, AuthorizedWhileAServerAnswersDeniedWhileNoneDoes) {
    DBusNotificationCenter center;
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::authorized);

    ASSERT_TRUE(server.stop());
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::denied);
    auto granted = std::make_shared<std::optional<bool>>();
    center.requestAuthorization([granted](bool g) { *granted = g; });
    ASSERT_TRUE(runUntil([&] { return granted->has_value(); }, 5s));
    EXPECT_FALSE(**granted);
    // A post that nobody takes fails quietly into the log.
    auto log = CapturingLogSink::install();
    center.add(request("lost", "Nobody shows this"));
    ASSERT_TRUE(runUntil([&] { return !log->lines().empty(); }, 5s));
    setLogSink(nullptr);

    // Asked afresh each time, not remembered.
    ASSERT_TRUE(server.start());
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
    EXPECT_FALSE(withSummary("Nobody shows this"));
}

TEST_F(DBusNotificationCenterTest, WithoutABusItIsDeniedAndPostsNothing) {
    const std::string address = std::string("unix:path=") + g_get_tmp_dir() + "/orvan-no-such-bus-" +
                                std::to_string(g_get_monotonic_time());
    DBusNotificationCenter center(address);
    center.add(request("a", "Dropped"));
    EXPECT_EQ(authorizationOf(center), NotificationAuthorization::denied);
    // Were the adapter to reach the session bus after all, it would land at the server by now.
    spin(300ms);
    EXPECT_TRUE(server.notifications().empty());
}

TEST_F(DBusNotificationCenterTest, OpeningANotificationHandsItsUserInfoAndTokenToTheHandlerAndAClosedOneIsForgotten) {
    DBusNotificationCenter center;
    auto responses = std::make_shared<std::vector<NotificationResponse>>();
    center.setResponseHandler([responses](const NotificationResponse& r) { responses->push_back(r); });
    center.add(request("a", "A", {}, true, {{"path", "/a"}}));
    center.add(request("b", "B", {}, true, {{"path", "/b"}, {"count", 2}}));
    center.add(request("c", "C", {}, true, {{"path", "/c"}}));
    ASSERT_TRUE(received(3));
    // A round trip behind the Notify replies: the centre knows every id.
    ASSERT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
    const std::uint32_t idA = withSummary("A")->id;
    const std::uint32_t idB = withSummary("B")->id;
    const std::uint32_t idC = withSummary("C")->id;

    server.emit("ActivationToken", idB, g_variant_new_string("token-b"));
    server.emit("ActionInvoked", idB, g_variant_new_string("default"));
    // Signals arrive in order: by the time A's click is handled, the ones before it have been too.
    const std::uint32_t notOurs = idC + 100;
    server.emit("ActivationToken", notOurs, g_variant_new_string("stray-token"));
    server.emit("ActionInvoked", notOurs, g_variant_new_string("default"));
    server.emit("NotificationClosed", idC, g_variant_new_uint32(2));
    server.emit("ActionInvoked", idC, g_variant_new_string("default"));
    server.emit("ActionInvoked", idA, g_variant_new_string("default"));
    ASSERT_TRUE(runUntil([&] { return responses->size() >= 2; }, 5s));
    spin(100ms);
    ASSERT_EQ(responses->size(), 2u);
    EXPECT_EQ((*responses)[0].userInfo, (nlohmann::json{{"path", "/b"}, {"count", 2}}));
    EXPECT_EQ((*responses)[0].activationToken, "token-b");
    EXPECT_EQ((*responses)[1].userInfo, (nlohmann::json{{"path", "/a"}}));
    EXPECT_EQ((*responses)[1].activationToken, "");

    // The closed one's identifier no longer points at it.
    center.add(request("c", "C again"));
    ASSERT_TRUE(received(4));
    EXPECT_EQ(withSummary("C again")->replacesId, 0u);
}

TEST_F(DBusNotificationCenterTest, ButtonsAreAnsweredWithTheirIdentifierAndANotificationCanBeTakenAway) {
    DBusNotificationCenter center;
    auto pressed = std::make_shared<std::vector<std::string>>();
    center.setResponseHandler([pressed](const NotificationResponse& r) { pressed->push_back(r.actionIdentifier); });
    NotificationRequest offer = request("offer", "Zoom の会議が始まりました");
    offer.actions = {{"start", "取る"}, {"dismiss", "あとで"}};
    center.add(offer);
    ASSERT_TRUE(received(1));
    const auto posted = withSummary("Zoom の会議が始まりました");
    EXPECT_EQ(posted->actions, (std::vector<std::string>{"default", "", "start", "取る", "dismiss", "あとで"}));
    ASSERT_EQ(authorizationOf(center), NotificationAuthorization::authorized);
    server.emit("ActionInvoked", posted->id, g_variant_new_string("snooze"));
    server.emit("ActionInvoked", posted->id, g_variant_new_string("start"));
    server.emit("ActionInvoked", posted->id, g_variant_new_string("default"));
    ASSERT_TRUE(runUntil([&] { return pressed->size() >= 2; }, 5s));
    EXPECT_EQ(*pressed, (std::vector<std::string>{"start", ""})) << "a button the request did not have is no answer";

    center.remove("offer");
    // Taken away while its Notify is still unanswered: it goes once it has an id.
    center.add(request("late", "Late"));
    center.remove("late");
    EXPECT_TRUE(runUntil([&] { return server.callsOf("CloseNotification") == 2; }, 5s));
}

TEST_F(DBusNotificationCenterTest, NothingIsCalledBackAfterTheCentreIsGone) {
    auto center = std::make_unique<DBusNotificationCenter>();
    auto calls = std::make_shared<int>(0);
    center->setResponseHandler([calls](const NotificationResponse&) { ++*calls; });
    center->add(request("a", "A"));
    ASSERT_TRUE(received(1));
    ASSERT_EQ(authorizationOf(*center), NotificationAuthorization::authorized);
    const std::size_t asked = server.callsOf("GetServerInformation");

    center->authorization([calls](NotificationAuthorization) { ++*calls; });
    center->requestAuthorization([calls](bool) { ++*calls; });
    center.reset();
    server.emit("ActionInvoked", server.notifications()[0].id, g_variant_new_string("default"));

    // The questions were sent before the centre went, and are answered; the answers go nowhere.
    ASSERT_TRUE(runUntil([&] { return server.callsOf("GetServerInformation") == asked + 2; }, 5s));
    spin(300ms);
    EXPECT_EQ(*calls, 0);
}

}  // namespace
}  // namespace orvan
