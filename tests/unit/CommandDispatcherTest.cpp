#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

#include "tests/fakes/FakeCommandPorts.h"
#include "tests/fakes/FakeWebView.h"
#include "webhost/CommandDispatcher.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using nlohmann::json;

class CommandDispatcherTest : public ::testing::Test {
protected:
    // Sends one message from the app's main frame unless told otherwise; returns every reply given.
    std::vector<ScriptReply> send(json body, const std::string& channel = kRecorderChannel, bool mainFrame = true,
                                  std::optional<std::string> host = "app.tomoriva.jp") {
        std::vector<ScriptReply> replies;
        {
            const ReplyOnce reply([&](ScriptReply r) { replies.push_back(std::move(r)); });
            dispatcher.dispatch(ScriptMessage{channel, mainFrame, std::move(host), std::move(body)}, appURL, webView, reply);
        }
        return replies;
    }
    ScriptReply sendOne(json body, const std::string& channel = kRecorderChannel) {
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
    int uuids = 0;
    CommandDispatcher dispatcher{CommandPorts{.recorder = recorder, .macShell = shell, .notifications = notifications,
                                              .opener = opener, .signIn = signIn,
                                              .newUUID = [this] { return "uuid-" + std::to_string(++uuids); }}};
};

TEST_F(CommandDispatcherTest, SubFramesForeignHostsMalformedBodiesAndUnknownCommandsAreRefused) {
    const auto invalid = ScriptReply::error("不正な呼び出しです");
    EXPECT_EQ(send({{"cmd", "start"}}, kRecorderChannel, false), std::vector{invalid});
    // The host comparison is exact: no lower-casing.
    for (const std::optional<std::string>& host : {std::optional<std::string>("evil.example"), std::optional<std::string>(),
                                                  std::optional<std::string>("APP.tomoriva.jp")})
        EXPECT_EQ(send({{"cmd", "start"}}, kRecorderChannel, true, host), std::vector{invalid}) << host.value_or("none");
    for (const json& body : {json{{"cmd", 1}}, json{{"nocmd", "start"}}, json::array({"start"}), json("start")})
        EXPECT_EQ(send(body), std::vector{invalid}) << body.dump();
    // Scheme and port are not compared; a URL without a host matches nothing.
    EXPECT_TRUE(CommandDispatcher::passesChecks(ScriptMessage{kRecorderChannel, true, "127.0.0.1", {{"cmd", "x"}}},
                                                *Url::parse("http://127.0.0.1:8741/")));
    EXPECT_FALSE(CommandDispatcher::passesChecks(ScriptMessage{kRecorderChannel, true, "127.0.0.1", {{"cmd", "x"}}},
                                                 *Url::parse("mailto:a@b.jp")));

    // Commands are case-sensitive and belong to their channel; any other channel is the recorder's.
    EXPECT_EQ(sendOne({{"cmd", "Start"}}), ScriptReply::error("未知の操作です: Start"));
    EXPECT_EQ(sendOne({{"cmd", "notify"}}), ScriptReply::error("未知の操作です: notify"));
    EXPECT_EQ(sendOne({{"cmd", "start"}}, kShellChannel), ScriptReply::error("未知の操作です: start"));
    EXPECT_EQ(sendOne({{"cmd", "badges"}}, "somethingElse"), ScriptReply::error("未知の操作です: badges"));
    EXPECT_TRUE(recorder->calls.empty());
    EXPECT_TRUE(notifications->added.empty());
}

TEST_F(CommandDispatcherTest, RecorderRepliesAndTheShellHearsOfSuccessesAndOfEveryStop) {
    const struct {
        json body;
        std::optional<RecorderError> failure;
        ScriptReply reply;
        std::vector<std::string> shellEvents;
    } cases[] = {
        {{{"cmd", "start"}}, {}, ScriptReply::nothing(), {"started"}},
        {{{"cmd", "pause"}}, {}, ScriptReply::nothing(), {"paused"}},
        {{{"cmd", "resume"}}, {}, ScriptReply::nothing(), {"unpaused"}},
        {{{"cmd", "stop"}}, {}, ScriptReply::string("/rec/meeting.m4a"), {"ended"}},
        {{{"cmd", "start"}}, RecorderError::alreadyRecording(), ScriptReply::error("すでに録音中です"), {}},
        {{{"cmd", "pause"}}, RecorderError::notRecording(), ScriptReply::error("録音していません"), {}},
        {{{"cmd", "resume"}}, RecorderError::notRecording(), ScriptReply::error("録音していません"), {}},
        {{{"cmd", "stop"}}, RecorderError::exportFailed("x"), ScriptReply::error("録音をまとめられませんでした: x"), {"ended"}},
        {{{"cmd", "pending"}}, {}, ScriptReply::null(), {}},
        {{{"cmd", "discard"}}, {}, ScriptReply::nothing(), {}},
        {{{"cmd", "discard"}, {"path", 5}}, {}, ScriptReply::nothing(), {}},
        {{{"cmd", "discard"}, {"path", "/rec/a"}}, RecorderError::exportFailed("y"), ScriptReply::error("録音をまとめられませんでした: y"), {}},
    };
    for (const auto& c : cases) {
        shell->events.clear();
        recorder->failure = c.failure;
        EXPECT_EQ(sendOne(c.body), c.reply) << c.body.dump();
        EXPECT_EQ(shell->events, c.shellEvents) << c.body.dump();
    }
    EXPECT_EQ(recorder->calls.back(), "discard:/rec/a") << "a discard without a string path reaches nobody";
    EXPECT_EQ(std::count(recorder->calls.begin(), recorder->calls.end(), "discard:/rec/a"), 1);
    recorder->failure.reset();
    recorder->pendingPath = "/rec/a/meeting.m4a";
    EXPECT_EQ(sendOne({{"cmd", "pending"}}), ScriptReply::string("/rec/a/meeting.m4a"));
}

TEST_F(CommandDispatcherTest, OpenExternalWaitsForTheOpenCallAndOnlyForTheFourSchemes) {
    for (const char* url : {"javascript:alert(1)", "file:///etc/passwd", "data:text/plain,x", "not a url"})
        EXPECT_EQ(sendOne({{"cmd", "openExternal"}, {"url", url}}), ScriptReply::nothing()) << url;
    EXPECT_EQ(sendOne({{"cmd", "openExternal"}}), ScriptReply::nothing());
    EXPECT_TRUE(opener->opened.empty());

    std::vector<ScriptReply> replies;
    for (const char* url : {"HTTPS://example.com/a", "http://example.com", "mailto:a@b.jp", "tel:+81312345678"}) {
        dispatcher.dispatch(ScriptMessage{kRecorderChannel, true, "app.tomoriva.jp", {{"cmd", "openExternal"}, {"url", url}}},
                            appURL, webView, ReplyOnce([&](ScriptReply r) { replies.push_back(r); }));
    }
    EXPECT_EQ(opener->opened.size(), 4u);
    EXPECT_TRUE(replies.empty()) << "the reply waits for the open call";
    opener->finishAll();
    EXPECT_EQ(replies, std::vector<ScriptReply>(4, ScriptReply::nothing()));
}

TEST_F(CommandDispatcherTest, StartOAuthChecksItsArgumentsChannelAndWebView) {
    const json good = {{"cmd", "startOAuth"}, {"url", "https://accounts.google.com/o/oauth2/auth?x=1"},
                       {"callbackHost", "app.tomoriva.jp"}, {"callbackPath", "/auth/callback"}};
    EXPECT_EQ(sendOne(good), ScriptReply::string("ok"));
    EXPECT_EQ(signIn->runs,
              std::vector<std::string>{"https://accounts.google.com/o/oauth2/auth?x=1 app.tomoriva.jp /auth/callback https://app.tomoriva.jp"});
    for (const json& patch : {json{{"callbackPath", nullptr}}, json{{"url", "::"}}, json{{"callbackHost", 1}}}) {
        auto bad = good;
        bad.merge_patch(patch);
        EXPECT_EQ(sendOne(bad), ScriptReply::string("error")) << patch.dump();
    }
    EXPECT_EQ(sendOne(good, "otherChannel"), ScriptReply::string("error"));
    webView.reset();
    EXPECT_EQ(sendOne(good), ScriptReply::string("error"));
    EXPECT_EQ(signIn->runs.size(), 1u);
}

TEST_F(CommandDispatcherTest, ShellCommandsBadgesNotifyAndPermission) {
    for (const json& counts : {json{{"chatUnread", 3}}, json(3), json()}) {
        json body = {{"cmd", "badges"}};
        if (!counts.is_null()) body["counts"] = counts;
        EXPECT_EQ(sendOne(body, kShellChannel), ScriptReply::nothing());
    }
    EXPECT_EQ(shell->events, (std::vector<std::string>{R"(badges:{"chatUnread":3})"}));

    sendOne({{"cmd", "notify"}, {"title", "会議"}}, kShellChannel);
    sendOne({{"cmd", "notify"}, {"title", "a"}, {"body", "b"}, {"tag", "chat-1"}, {"sound", false}}, kShellChannel);
    sendOne({{"cmd", "notify"}, {"title", 5}, {"body", nullptr}, {"tag", nullptr}, {"sound", "no"}}, kShellChannel);
    ASSERT_EQ(notifications->added.size(), 3u);
    const auto& [plain, tagged, odd] = std::tie(notifications->added[0], notifications->added[1], notifications->added[2]);
    EXPECT_EQ(plain.title, "会議");
    EXPECT_FALSE(plain.body);
    EXPECT_TRUE(plain.sound);
    EXPECT_EQ(plain.identifier, "uuid-1");
    EXPECT_EQ(tagged.identifier, "web-chat-1");
    EXPECT_EQ(tagged.body, "b");
    EXPECT_FALSE(tagged.sound);
    EXPECT_EQ(odd.title, "");
    EXPECT_TRUE(odd.sound);
    EXPECT_EQ(odd.identifier, "uuid-2") << "no tag: a fresh identifier that never replaces another";

    EXPECT_EQ(sendOne({{"cmd", "notificationPermission"}}, kShellChannel), ScriptReply::string("default"));
    notifications->status = NotificationAuthorization::denied;
    EXPECT_EQ(sendOne({{"cmd", "notificationPermission"}}, kShellChannel), ScriptReply::string("denied"));
    EXPECT_EQ(notifications->requests, 0);
    notifications->status = NotificationAuthorization::notDetermined;
    notifications->grantOnRequest = true;
    EXPECT_EQ(sendOne({{"cmd", "requestNotificationPermission"}}, kShellChannel), ScriptReply::string("granted"));
}

TEST(ReplyOnceTest, AnswersOnceAndAnswersNothingWhenDropped) {
    std::vector<ScriptReply> replies;
    {
        const ReplyOnce reply([&](ScriptReply r) { replies.push_back(r); });
        reply(ScriptReply::string("first"));
        reply(ScriptReply::string("second"));
        const ReplyOnce dropped([&](ScriptReply r) { replies.push_back(r); });
    }
    EXPECT_EQ(replies, (std::vector<ScriptReply>{ScriptReply::string("first"), ScriptReply::nothing()}));
}

}  // namespace
}  // namespace orvan
