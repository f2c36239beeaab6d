#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeWebView.h"
#include "webhost/NativeOAuth.h"

namespace orvan {
namespace {

using namespace orvan::testing;

// Sessions that end when the test says so.
class FakeSessions final : public WebAuthenticationSessions {
public:
    struct Session final : WebAuthenticationSession {
        bool start() override {
            started = true;
            return startSucceeds;
        }
        void cancel() override {
            ++cancels;
            complete({std::nullopt, WebAuthenticationResult::kCancelledByUser});
        }
        void complete(WebAuthenticationResult result) {
            if (completion) std::exchange(completion, nullptr)(std::move(result));
        }
        std::string host, path;
        bool startSucceeds = true;
        bool started = false;
        int cancels = 0;
        std::function<void(WebAuthenticationResult)> completion;
    };

    std::shared_ptr<WebAuthenticationSession> create(const Url&, const std::string& host, const std::string& path,
                                                     std::function<void(WebAuthenticationResult)> completion) override {
        auto session = std::make_shared<Session>();
        session->host = host;
        session->path = path;
        session->startSucceeds = nextStartSucceeds;
        session->completion = std::move(completion);
        created.push_back(session);
        return session;
    }

    bool nextStartSucceeds = true;
    std::vector<std::shared_ptr<Session>> created;
};

class NativeOAuthTest : public ::testing::Test {
protected:
    void run(const std::string& host = "app.tomoriva.jp", const std::string& path = "/auth/callback") {
        oauth.run(*Url::parse("https://accounts.google.com/o/oauth2/v2/auth?client_id=x"), host, path, view, appURL,
                  [this](std::string result) { results.push_back(std::move(result)); });
    }
    std::vector<std::string> loads() const {
        std::vector<std::string> urls;
        for (const auto& load : view->loads) urls.push_back(load.url);
        return urls;
    }

    FakeMainLoop loop;
    std::shared_ptr<FakeSessions> sessions = std::make_shared<FakeSessions>();
    NativeOAuth oauth{sessions, loop};
    std::shared_ptr<FakeWebView> view = std::make_shared<FakeWebView>();
    Url appURL = *Url::parse("https://app.tomoriva.jp");
    std::vector<std::string> results;
    const std::string errorPage = "https://app.tomoriva.jp/auth/login?error=auth_failed";
};

TEST_F(NativeOAuthTest, CallbackHostIsTrimmedAndLowerCasedAndThePathGetsItsSlash) {
    run(" \tApp.Tomoriva.JP\n", "auth/Callback");
    ASSERT_EQ(sessions->created.size(), 1u);
    EXPECT_EQ(sessions->created[0]->host, "app.tomoriva.jp");
    EXPECT_EQ(sessions->created[0]->path, "/auth/Callback");
    EXPECT_TRUE(sessions->created[0]->started);
    EXPECT_EQ(NativeOAuth::normalizedCallbackPath("/x"), "/x");
}

TEST_F(NativeOAuthTest, EachEndingAnswersThePageAndLoadsTheCallbackOrTheLoginErrorPage) {
    const std::string callback = "https://app.tomoriva.jp/auth/callback?code=abc&state=s";
    const struct {
        const char* name;
        bool starts;
        const char* callbackURL;  // the session's ending: this URL, or no URL and `errorCode`
        std::optional<int> errorCode;
        const char* answer;
        std::string load;
    } cases[] = {
        {"the callback, with its query", true, callback.c_str(), std::nullopt, "ok", callback},
        {"cancelled by the user", true, nullptr, WebAuthenticationResult::kCancelledByUser, "cancelled", errorPage},
        {"another failure", true, nullptr, 2, "error", errorPage},
        {"neither", true, nullptr, std::nullopt, "error", errorPage},
        {"a session that cannot start answers at once", false, nullptr, std::nullopt, "error", errorPage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        results.clear();
        view->loads.clear();
        sessions->nextStartSucceeds = c.starts;
        run();
        if (c.starts) {
            EXPECT_TRUE(results.empty()) << "waits for the session";
            sessions->created.back()->complete(
                {c.callbackURL != nullptr ? Url::parse(c.callbackURL) : std::nullopt, c.errorCode});
            EXPECT_TRUE(results.empty()) << "the completion hops onto the main loop";
            loop.runUntilIdle();
        }
        EXPECT_EQ(results, std::vector<std::string>{c.answer});
        EXPECT_EQ(loads(), std::vector<std::string>{c.load});
        // A session that never started must not be cancelled, and so answer again, by the next run.
        EXPECT_FALSE(oauth.hasCurrentSession());
    }
}

TEST_F(NativeOAuthTest, ASecondRunCancelsTheFirstAndKeepsItsOwnSession) {
    run();
    run();
    ASSERT_EQ(sessions->created.size(), 2u);
    EXPECT_EQ(sessions->created[0]->cancels, 1);
    loop.runUntilIdle();
    EXPECT_EQ(results, std::vector<std::string>{"cancelled"});
    EXPECT_TRUE(oauth.hasCurrentSession()) << "the older completion must not drop the newer session";

    sessions->created[1]->complete({Url::parse("https://app.tomoriva.jp/auth/callback?code=2"), std::nullopt});
    loop.runUntilIdle();
    EXPECT_EQ(results, (std::vector<std::string>{"cancelled", "ok"}));
    EXPECT_EQ(loads().back(), "https://app.tomoriva.jp/auth/callback?code=2");
}

TEST_F(NativeOAuthTest, AGoneWebViewStillGetsAnAnswer) {
    run();
    view.reset();
    sessions->created[0]->complete({Url::parse("https://app.tomoriva.jp/auth/callback?code=1"), std::nullopt});
    loop.runUntilIdle();
    EXPECT_EQ(results, std::vector<std::string>{"ok"});
}

}  // namespace
}  // namespace orvan
