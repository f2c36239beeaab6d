#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeWebView.h"
#include "webhost/CommandDispatcher.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using Kind = ScriptReply::Kind;

class CommandDispatcherTest : public ::testing::Test {
protected:
    CommandDispatcherTest() {
        dispatcher = std::make_unique<CommandDispatcher>(CommandPorts{
            .recorder = recorder,
            .macShell = shell,
            .notifications = notifications,
            .opener = opener,
            .signIn = signIn,
            .newUUID = [this] { return "uuid-" + std::to_string(++uuids); },
        });
    }

    // Sends one message from the app's main frame unless told otherwise; returns every reply given.
    std::vector<ScriptReply> send(nlohmann::json body, const std::string& channel = kRecorderChannel,
                                  bool mainFrame = true, std::optional<std::string> host = "app.tomoriva.jp") {
        std::vector<ScriptReply> replies;
        {
            const ReplyOnce reply([&](ScriptReply r) { replies.push_back(std::move(r)); });
            dispatcher->dispatch(ScriptMessage{channel, mainFrame, std::move(host), std::move(body)}, appURL,
                                 webView, reply);
        }
        return replies;
    }

    ScriptReply sendOne(nlohmann::json body, const std::string& channel = kRecorderChannel) {
        auto replies = send(std::move(body), channel);
        EXPECT_EQ(replies.size(), 1u) << "every message is answered exactly once";
        return replies.empty() ? ScriptReply::nothing() : replies.front();
    }

    Url appURL = *Url::parse("https://app.tomoriva.jp");
    std::shared_ptr<FakeWebView> webView = std::make_shared<FakeWebView>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::shared_ptr<FakeMacShell> shell = std::make_shared<FakeMacShell>();
    std::shared_ptr<FakeUserNotificationCenter> notifications = std::make_shared<FakeUserNotificationCenter>();
    std::shared_ptr<FakeUrlOpener> opener = std::make_shared<FakeUrlOpener>();
    std::shared_ptr<FakeSignInRunner> signIn = std::make_shared<FakeSignInRunner>();
    std::unique_ptr<CommandDispatcher> dispatcher;
    int uuids = 0;
};

TEST_F(CommandDispatcherTest, ChecksRefuseSubFramesForeignHostsAndMalformedBodies) {
    const auto invalid = ScriptReply::error("不正な呼び出しです");
    EXPECT_EQ(send({{"cmd", "start"}}, kRecorderChannel, false), std::vector{invalid});
    EXPECT_EQ(send({{"cmd", "start"}}, kRecorderChannel, true, "evil.example"), std::vector{invalid});
    EXPECT_EQ(send({{"cmd", "start"}}, kRecorderChannel, true, std::nullopt), std::vector{invalid});
    // The host comparison is exact: no lower-casing.
    EXPECT_EQ(send({{"cmd", "start"}}, kRecorderChannel, true, "APP.tomoriva.jp"), std::vector{invalid});
    EXPECT_EQ(send({{"cmd", 1}}), std::vector{invalid});
    EXPECT_EQ(send({{"nocmd", "start"}}), std::vector{invalid});
    EXPECT_EQ(send(nlohmann::json::array({"start"})), std::vector{invalid});
    EXPECT_EQ(send("start"), std::vector{invalid});
    EXPECT_TRUE(recorder->calls.empty());
}

TEST_F(CommandDispatcherTest, SchemeAndPortAreNotCompared) {
    EXPECT_TRUE(CommandDispatcher::passesChecks(
        ScriptMessage{kRecorderChannel, true, "127.0.0.1", {{"cmd", "x"}}}, *Url::parse("http://127.0.0.1:8741/")));
    EXPECT_FALSE(CommandDispatcher::passesChecks(
        ScriptMessage{kRecorderChannel, true, "127.0.0.1", {{"cmd", "x"}}}, *Url::parse("mailto:a@b.jp")));
}

TEST_F(CommandDispatcherTest, UnknownCommandsAreCaseSensitiveAndChannelSpecific) {
    EXPECT_EQ(sendOne({{"cmd", "Start"}}), ScriptReply::error("未知の操作です: Start"));
    EXPECT_EQ(sendOne({{"cmd", "notify"}}), ScriptReply::error("未知の操作です: notify"));
    EXPECT_EQ(sendOne({{"cmd", "start"}}, kShellChannel), ScriptReply::error("未知の操作です: start"));
    // Any channel other than the shell's uses the recorder table.
    EXPECT_EQ(sendOne({{"cmd", "badges"}}, "somethingElse"), ScriptReply::error("未知の操作です: badges"));
    EXPECT_TRUE(recorder->calls.empty());
    EXPECT_TRUE(notifications->added.empty());
}

TEST_F(CommandDispatcherTest, RecorderCommandsReplyAndTellTheShellOnlyOnSuccess) {
    EXPECT_EQ(sendOne({{"cmd", "start"}}), ScriptReply::nothing());
    EXPECT_EQ(sendOne({{"cmd", "pause"}}), ScriptReply::nothing());
    EXPECT_EQ(sendOne({{"cmd", "resume"}}), ScriptReply::nothing());
    EXPECT_EQ(sendOne({{"cmd", "stop"}}), ScriptReply::string("/rec/meeting.m4a"));
    EXPECT_EQ(shell->events, (std::vector<std::string>{"started", "paused", "unpaused", "ended"}));

    shell->events.clear();
    recorder->failure = RecorderError::alreadyRecording();
    EXPECT_EQ(sendOne({{"cmd", "start"}}), ScriptReply::error("すでに録音中です"));
    recorder->failure = RecorderError::notRecording();
    EXPECT_EQ(sendOne({{"cmd", "pause"}}), ScriptReply::error("録音していません"));
    EXPECT_EQ(sendOne({{"cmd", "resume"}}), ScriptReply::error("録音していません"));
    EXPECT_TRUE(shell->events.empty());
}

TEST_F(CommandDispatcherTest, StopFailingStillReachesTheShell) {
    recorder->failure = RecorderError::notRecording();
    EXPECT_EQ(sendOne({{"cmd", "stop"}}), ScriptReply::error("録音していません"));
    EXPECT_EQ(shell->events, (std::vector<std::string>{"ended"}));
    recorder->failure = RecorderError::exportFailed("x");
    EXPECT_EQ(sendOne({{"cmd", "stop"}}), ScriptReply::error("録音をまとめられませんでした: x"));
}

TEST_F(CommandDispatcherTest, PendingAnswersAPathOrAnExplicitNull) {
    EXPECT_EQ(sendOne({{"cmd", "pending"}}), ScriptReply::null());
    recorder->pendingPath = "/rec/a/meeting.m4a";
    EXPECT_EQ(sendOne({{"cmd", "pending"}}), ScriptReply::string("/rec/a/meeting.m4a"));
}

TEST_F(CommandDispatcherTest, DiscardNeedsAStringPath) {
    EXPECT_EQ(sendOne({{"cmd", "discard"}}), ScriptReply::nothing());
    EXPECT_EQ(sendOne({{"cmd", "discard"}, {"path", 5}}), ScriptReply::nothing());
    EXPECT_TRUE(recorder->calls.empty());
    EXPECT_EQ(sendOne({{"cmd", "discard"}, {"path", "/rec/a"}}), ScriptReply::nothing());
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"discard:/rec/a"}));
    recorder->failure = RecorderError::exportFailed("y");
    EXPECT_EQ(sendOne({{"cmd", "discard"}, {"path", "/rec/a"}}), ScriptReply::error("録音をまとめられませんでした: y"));
}

TEST_F(CommandDispatcherTest, OpenExternalWaitsForTheOpenCallAndOnlyForTheFourSchemes) {
    for (const char* url : {"javascript:alert(1)", "file:///etc/passwd", "data:text/plain,x", "not a url"}) {
        EXPECT_EQ(sendOne({{"cmd", "openExternal"}, {"url", url}}), ScriptReply::nothing()) << url;
    }
    EXPECT_EQ(sendOne({{"cmd", "openExternal"}}), ScriptReply::nothing());
    EXPECT_TRUE(opener->opened.empty());

    std::vector<ScriptReply> replies;
    for (const char* url : {"HTTPS://example.com/a", "http://example.com", "mailto:a@b.jp", "tel:+81312345678"}) {
        dispatcher->dispatch(ScriptMessage{kRecorderChannel, true, "app.tomoriva.jp", {{"cmd", "openExternal"}, {"url", url}}},
                             appURL, webView, ReplyOnce([&](ScriptReply r) { replies.push_back(r); }));
    }
    EXPECT_EQ(opener->opened.size(), 4u);
    EXPECT_TRUE(replies.empty()) << "the reply waits for the open call";
    opener->finishAll();
    EXPECT_EQ(replies, std::vector<ScriptReply>(4, ScriptReply::nothing()));
}

TEST_F(CommandDispatcherTest, StartOAuthChecksItsArgumentsChannelAndWebView) {
    const nlohmann::json good = {{"cmd", "startOAuth"}, {"url", "https://accounts.google.com/o/oauth2/auth?x=1"},
                                 {"callbackHost", "app.tomoriva.jp"}, {"callbackPath", "/auth/callback"}};
    EXPECT_EQ(sendOne(good), ScriptReply::string("ok"));
    ASSERT_EQ(signIn->runs.size(), 1u);
    EXPECT_EQ(signIn->runs[0],
              "https://accounts.google.com/o/oauth2/auth?x=1 app.tomoriva.jp /auth/callback https://app.tomoriva.jp");

    auto missingPath = good;
    missingPath.erase("callbackPath");
    EXPECT_EQ(sendOne(missingPath), ScriptReply::string("error"));
    auto badURL = good;
    badURL["url"] = "::";
    EXPECT_EQ(sendOne(badURL), ScriptReply::string("error"));
    auto numberHost = good;
    numberHost["callbackHost"] = 1;
    EXPECT_EQ(sendOne(numberHost), ScriptReply::string("error"));
    EXPECT_EQ(sendOne(good, "otherChannel"), ScriptReply::string("error"));
    webView.reset();
    EXPECT_EQ(sendOne(good), ScriptReply::string("error"));
    EXPECT_EQ(signIn->runs.size(), 1u);
}

TEST_F(CommandDispatcherTest, BadgesHandsObjectsOnAndIgnoresAnythingElse) {
    EXPECT_EQ(sendOne({{"cmd", "badges"}, {"counts", {{"chatUnread", 3}}}}, kShellChannel), ScriptReply::nothing());
    EXPECT_EQ(sendOne({{"cmd", "badges"}, {"counts", 3}}, kShellChannel), ScriptReply::nothing());
    EXPECT_EQ(sendOne({{"cmd", "badges"}}, kShellChannel), ScriptReply::nothing());
    EXPECT_EQ(shell->events, (std::vector<std::string>{R"(badges:{"chatUnread":3})"}));
}

TEST_F(CommandDispatcherTest, NotifyBuildsTheRequestFromItsArguments) {
    sendOne({{"cmd", "notify"}, {"title", "会議"}}, kShellChannel);
    sendOne({{"cmd", "notify"}, {"title", "a"}, {"body", "b"}, {"tag", "chat-1"}, {"sound", false}}, kShellChannel);
    sendOne({{"cmd", "notify"}, {"title", 5}, {"body", nullptr}, {"tag", nullptr}, {"sound", "no"}}, kShellChannel);
    ASSERT_EQ(notifications->added.size(), 3u);

    const auto& plain = notifications->added[0];
    EXPECT_EQ(plain.title, "会議");
    EXPECT_FALSE(plain.body);
    EXPECT_TRUE(plain.sound);
    EXPECT_EQ(plain.identifier, "uuid-1");

    const auto& tagged = notifications->added[1];
    EXPECT_EQ(tagged.identifier, "web-chat-1");
    EXPECT_EQ(tagged.body, "b");
    EXPECT_FALSE(tagged.sound);

    const auto& odd = notifications->added[2];
    EXPECT_EQ(odd.title, "");
    EXPECT_TRUE(odd.sound);
    EXPECT_EQ(odd.identifier, "uuid-2") << "no tag: a fresh identifier that never replaces another";
}

TEST_F(CommandDispatcherTest, PermissionMapping) {
    EXPECT_EQ(sendOne({{"cmd", "notificationPermission"}}, kShellChannel), ScriptReply::string("default"));
    notifications->status = NotificationAuthorization::denied;
    EXPECT_EQ(sendOne({{"cmd", "notificationPermission"}}, kShellChannel), ScriptReply::string("denied"));
    EXPECT_EQ(notifications->requests, 0);

    notifications->status = NotificationAuthorization::notDetermined;
    notifications->grantOnRequest = true;
    EXPECT_EQ(sendOne({{"cmd", "requestNotificationPermission"}}, kShellChannel), ScriptReply::string("granted"));
    EXPECT_EQ(notifications->requests, 1);
}

TEST(ReplyOnceTest, AnswersOnceAndAnswersNothingWhenDropped) {
    std::vector<ScriptReply> replies;
    {
        const ReplyOnce reply([&](ScriptReply r) { replies.push_back(r); });
        reply(ScriptReply::string("first"));
        reply(ScriptReply::string("second"));
    }
    {
        const ReplyOnce dropped([&](ScriptReply r) { replies.push_back(r); });
    }
    EXPECT_EQ(replies, (std::vector<ScriptReply>{ScriptReply::string("first"), ScriptReply::nothing()}));
}

}  // namespace
}  // namespace orvan
