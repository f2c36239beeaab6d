// Drives the stand-in over real HTTP: the server runs in-process on a free port and answers from
// the same main context the libsoup client iterates.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "HttpClient.h"
#include "tools/webapp/StandInServer.h"

namespace orvan::webapp::test {
namespace {

constexpr const char* kMenuPaths[] = {
    "/chat", "/tasks", "/calendar", "/agent", "/meeting-notes",
    "/pages", "/decks", "/databases", "/decisions", "/crm",
};

constexpr const char* kBadgeKeys[] = {
    "salesToday", "outbox", "approvals", "todayFocus", "companyVerify",
    "chatUnread", "chatMentions", "chatDirect", "notifications",
};

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class StandInServerTest : public ::testing::Test {
protected:
    void SetUp() override { port_ = server_.start(); }

    std::string url(const std::string& pathAndQuery) const { return server_.baseURL() + pathAndQuery; }

    // A session cookie obtained the way a browser would, returned as a Cookie header value.
    std::string signIn()
    {
        HttpRequest request;
        request.url = url("/auth/session?next=/");
        request.followRedirects = false;
        const auto response = client_.send(request);
        EXPECT_EQ(response.status, 303u);
        const auto setCookie = response.header("Set-Cookie").value_or("");
        return setCookie.substr(0, setCookie.find(';'));
    }

    HttpResponse push(const std::string& method, const std::string& body, const std::string& cookie)
    {
        HttpRequest request;
        request.method = method;
        request.url = url("/api/push/apns/register");
        request.body = body;
        request.contentType = body.empty() ? "" : "application/json";
        if (!cookie.empty())
            request.headers.emplace_back("Cookie", cookie);
        return client_.send(request);
    }

    HttpResponse control(const std::string& path, const std::string& body)
    {
        HttpRequest request;
        request.method = "POST";
        request.url = url(path);
        request.body = body;
        request.contentType = "application/json";
        return client_.send(request);
    }

    // Declared first so it outlives the server and client that attach to its context.
    MainContextScope context_;
    StandInServer server_;
    HttpClient client_;
    unsigned port_ = 0;
};

TEST_F(StandInServerTest, StartsOnAFreeLoopbackPort)
{
    EXPECT_GT(port_, 0u);
    EXPECT_EQ(server_.baseURL(), "http://127.0.0.1:" + std::to_string(port_));
    EXPECT_THROW(server_.start(), std::runtime_error);
}

TEST_F(StandInServerTest, StartFailsWithAMessageWhenThePortIsTaken)
{
    StandInServer second;
    try {
        second.start(port_);
        FAIL() << "a second server bound the same port";
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(contains(error.what(), std::to_string(port_))) << error.what();
    }
}

TEST_F(StandInServerTest, StartPageLinksEveryMenuPath)
{
    const auto response = client_.get(url("/"));
    ASSERT_EQ(response.status, 200u);
    EXPECT_EQ(response.header("Content-Type").value_or(""), "text/html; charset=utf-8");
    EXPECT_TRUE(contains(response.body, "<html lang=\"ja\">"));
    EXPECT_TRUE(contains(response.body, "<meta charset=\"UTF-8\">"));
    EXPECT_TRUE(contains(response.body, "<title>Tomoriva</title>"));
    EXPECT_TRUE(contains(response.body, "<h1 id=\"page-path\">/</h1>"));
    for (const char* path : kMenuPaths)
        EXPECT_TRUE(contains(response.body, std::string("href=\"") + path + "\"")) << path;
    EXPECT_TRUE(contains(response.body, "href=\"/auth/login\""));
    EXPECT_TRUE(contains(response.body, "href=\"/meeting-notes/record?mode=desktop-app\""));
}

TEST_F(StandInServerTest, EveryMenuPageNamesItsPath)
{
    for (const char* path : kMenuPaths) {
        const auto response = client_.get(url(path));
        EXPECT_EQ(response.status, 200u) << path;
        EXPECT_TRUE(contains(response.body, std::string("<title>") + path + "</title>")) << path;
        EXPECT_TRUE(contains(response.body, std::string("<h1 id=\"page-path\">") + path + "</h1>")) << path;
    }
    const auto nested = client_.get(url("/chat/rooms/42"));
    EXPECT_EQ(nested.status, 200u);
    EXPECT_TRUE(contains(nested.body, "<title>/chat/rooms/42</title>"));
}

TEST_F(StandInServerTest, UnknownPathsAreNotFound)
{
    const auto response = client_.get(url("/chatter"));
    EXPECT_EQ(response.status, 404u);
    EXPECT_TRUE(contains(response.body, "<h1 id=\"page-path\">/chatter</h1>"));
    EXPECT_EQ(client_.get(url("/api/nothing")).status, 404u);
}

TEST_F(StandInServerTest, RecordPageShowsItsQueryEscaped)
{
    const auto response = client_.get(url("/meeting-notes/record?mode=desktop-app&x=%3Cb%3E"));
    ASSERT_EQ(response.status, 200u);
    EXPECT_TRUE(contains(response.body, "<title>/meeting-notes/record</title>"));
    EXPECT_TRUE(contains(response.body, "mode=desktop-app&amp;x=%3Cb%3E"));
    EXPECT_FALSE(contains(response.body, "mode=desktop-app&x="));
    // The recorder controls and the list of what was uploaded.
    for (const char* id : {"record-start", "record-pause", "record-resume", "record-stop", "uploads"}) {
        EXPECT_TRUE(contains(response.body, std::string("id=\"") + id + "\"")) << id;
    }
}

TEST_F(StandInServerTest, BadgesNeedASessionCookie)
{
    const auto signedOut = client_.get(url("/api/badges"));
    EXPECT_EQ(signedOut.status, 401u);
    EXPECT_EQ(signedOut.json(), nlohmann::json({{"error", "unauthorized"}}));
    EXPECT_EQ(signedOut.header("Cache-Control").value_or(""), "no-store");

    server_.setBadgeCounts({{"chatUnread", 3}, {"approvals", 12}});
    // A browser-like client: the cookie set on the redirect is carried to the next page.
    HttpClient browser("OrvanWebappTest/1.0", true);
    const auto signedIn = browser.get(url("/auth/session?next=/api/badges"));
    ASSERT_EQ(signedIn.status, 200u);
    EXPECT_EQ(signedIn.header("Cache-Control").value_or(""), "no-store");
    const auto counts = signedIn.json();
    ASSERT_EQ(counts.size(), std::size(kBadgeKeys));
    for (const char* key : kBadgeKeys)
        EXPECT_TRUE(counts.contains(key) && counts[key].is_number()) << key;
    EXPECT_EQ(counts["chatUnread"], 3);
    EXPECT_EQ(counts["approvals"], 12);
    EXPECT_EQ(counts["outbox"], 0);
    EXPECT_EQ(counts["notifications"], 0);

    // The session belongs to the browser that opened it.
    EXPECT_EQ(client_.get(url("/api/badges")).status, 401u);
    EXPECT_EQ(client_.get(url("/api/badges"), {{"Cookie", "orvan_session=forged"}}).status, 401u);
}

TEST_F(StandInServerTest, SessionCookieHasTheExpectedAttributes)
{
    HttpRequest request;
    request.url = url("/auth/session?next=/tasks?view=mine");
    request.followRedirects = false;
    const auto response = client_.send(request);
    ASSERT_EQ(response.status, 303u);
    EXPECT_EQ(response.header("Location").value_or(""), "/tasks?view=mine");
    const auto cookie = response.header("Set-Cookie").value_or("");
    EXPECT_TRUE(cookie.starts_with("orvan_session=")) << cookie;
    EXPECT_GT(cookie.find(';'), std::string("orvan_session=").size()) << "empty session id: " << cookie;
    EXPECT_TRUE(contains(cookie, "; Path=/")) << cookie;
    EXPECT_TRUE(contains(cookie, "; HttpOnly")) << cookie;
    EXPECT_TRUE(contains(cookie, "; SameSite=Lax")) << cookie;
}

TEST_F(StandInServerTest, EachSessionGetsItsOwnId)
{
    EXPECT_NE(signIn(), signIn());
}

TEST_F(StandInServerTest, SessionRedirectStaysOnThisOrigin)
{
    for (const char* next : {"//evil.example/x", "/%5Cevil.example", "https://evil.example/", "evil", ""}) {
        HttpRequest request;
        request.url = url(std::string("/auth/session?next=") + next);
        request.followRedirects = false;
        const auto response = client_.send(request);
        EXPECT_EQ(response.status, 303u) << next;
        EXPECT_EQ(response.header("Location").value_or(""), "/") << next;
    }
}

TEST_F(StandInServerTest, SignedInSwitchOpensTheApiWithoutACookie)
{
    server_.setSignedIn(true);
    EXPECT_EQ(client_.get(url("/api/badges")).status, 200u);
    server_.setSignedIn(false);
    EXPECT_EQ(client_.get(url("/api/badges")).status, 401u);
}

TEST_F(StandInServerTest, LoginFormOpensASession)
{
    HttpRequest request;
    request.method = "POST";
    request.url = url("/auth/login");
    request.body = "user=%E5%B1%B1%E7%94%B0";
    request.contentType = "application/x-www-form-urlencoded";
    request.followRedirects = false;
    const auto response = client_.send(request);
    ASSERT_EQ(response.status, 303u);
    EXPECT_EQ(response.header("Location").value_or(""), "/");
    const auto setCookie = response.header("Set-Cookie").value_or("");
    const auto cookie = setCookie.substr(0, setCookie.find(';'));
    EXPECT_EQ(client_.get(url("/api/badges"), {{"Cookie", cookie}}).status, 200u);

    request.body = "user=";
    const auto refused = client_.send(request);
    EXPECT_EQ(refused.status, 303u);
    EXPECT_TRUE(refused.header("Location").value_or("").starts_with("/auth/login?error=")) << refused.body;
    EXPECT_FALSE(refused.header("Set-Cookie").has_value());
}

TEST_F(StandInServerTest, LogoutEndsTheSession)
{
    const auto cookie = signIn();
    ASSERT_EQ(client_.get(url("/api/badges"), {{"Cookie", cookie}}).status, 200u);

    HttpRequest request;
    request.url = url("/auth/logout");
    request.headers.emplace_back("Cookie", cookie);
    request.followRedirects = false;
    const auto response = client_.send(request);
    EXPECT_EQ(response.status, 303u);
    EXPECT_EQ(response.header("Location").value_or(""), "/auth/login");
    EXPECT_TRUE(contains(response.header("Set-Cookie").value_or(""), "Max-Age=0"));

    EXPECT_EQ(client_.get(url("/api/badges"), {{"Cookie", cookie}}).status, 401u);
}

TEST_F(StandInServerTest, LoginPageEscapesAHostileError)
{
    const auto response = client_.get(url("/auth/login?error=%3Cscript%3Ealert(%22x%22)%26%27%3C%2Fscript%3E"));
    ASSERT_EQ(response.status, 200u);
    EXPECT_TRUE(contains(response.body, "&lt;script&gt;alert(&quot;x&quot;)&amp;&#39;&lt;/script&gt;")) << response.body;
    EXPECT_FALSE(contains(response.body, "<script>"));
    EXPECT_TRUE(contains(response.body, "<form id=\"login-form\" method=\"post\" action=\"/auth/login\">"));
    EXPECT_TRUE(contains(response.body, "name=\"user\""));
}

TEST_F(StandInServerTest, VersionAnswersTheDeploymentId)
{
    server_.setDeploymentId("2024-05-01.3");
    auto response = client_.get(url("/api/version"));
    ASSERT_EQ(response.status, 200u);
    EXPECT_EQ(response.json(), nlohmann::json({{"deploymentId", "2024-05-01.3"}}));

    server_.setDeploymentId(std::nullopt);
    response = client_.get(url("/api/version"));
    ASSERT_EQ(response.status, 200u);
    EXPECT_EQ(response.json(), nlohmann::json({{"deploymentId", nullptr}}));
}

TEST_F(StandInServerTest, PushRegistrationNeedsASession)
{
    const auto response = push("POST", R"({"deviceToken":"abc"})", "");
    EXPECT_EQ(response.status, 401u);
    EXPECT_FALSE(server_.pushDeviceToken().has_value());
    EXPECT_EQ(push("DELETE", "", "").status, 401u);
}

TEST_F(StandInServerTest, PushRegistrationRemembersAndForgetsTheToken)
{
    const auto cookie = signIn();
    auto response = push("POST", R"({"deviceToken":"0f1e2d"})", cookie);
    ASSERT_EQ(response.status, 200u);
    EXPECT_EQ(response.json(), nlohmann::json({{"ok", true}}));
    EXPECT_EQ(server_.pushDeviceToken(), std::optional<std::string>("0f1e2d"));

    response = push("DELETE", "", cookie);
    ASSERT_EQ(response.status, 200u);
    EXPECT_EQ(response.json(), nlohmann::json({{"ok", true}}));
    EXPECT_FALSE(server_.pushDeviceToken().has_value());
}

TEST_F(StandInServerTest, PushRegistrationRejectsMalformedBodies)
{
    const auto cookie = signIn();
    for (const char* body : {"not json", "[]", R"({"deviceToken":5})", R"({"token":"x"})", R"({"deviceToken":""})"}) {
        const auto response = push("POST", body, cookie);
        EXPECT_EQ(response.status, 400u) << body;
        EXPECT_EQ(response.json(), nlohmann::json({{"ok", false}})) << body;
    }
    EXPECT_FALSE(server_.pushDeviceToken().has_value());
}

TEST_F(StandInServerTest, PushResponseOverrideAnswersUntilReset)
{
    const auto cookie = signIn();
    server_.setPushResponse(503, "");
    for (int i = 0; i < 2; ++i) {
        const auto response = push("POST", R"({"deviceToken":"abc"})", cookie);
        EXPECT_EQ(response.status, 503u);
        EXPECT_TRUE(response.body.empty()) << response.body;
    }
    EXPECT_EQ(push("DELETE", "", "").status, 503u);
    EXPECT_FALSE(server_.pushDeviceToken().has_value());

    server_.setPushResponse(200, "{broken");
    const auto odd = push("POST", R"({"deviceToken":"abc"})", cookie);
    EXPECT_EQ(odd.status, 200u);
    EXPECT_EQ(odd.body, "{broken");

    server_.setPushResponse(0, "");
    EXPECT_EQ(push("POST", R"({"deviceToken":"abc"})", cookie).status, 200u);
    EXPECT_EQ(server_.pushDeviceToken(), std::optional<std::string>("abc"));
    EXPECT_THROW(server_.setPushResponse(42, ""), std::invalid_argument);
}

TEST_F(StandInServerTest, RequestsAreRecordedWithUserAgentAndCookie)
{
    HttpClient shell("OrvanOffice/0.1 (Linux) Tomoriva-Desktop");
    shell.get(url("/chat?tab=unread"));
    shell.get(url("/api/version"), {{"Cookie", "orvan_session=abc; theme=dark"}});

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/chat");
    EXPECT_EQ(requests[0].query, "tab=unread");
    EXPECT_EQ(requests[0].userAgent, "OrvanOffice/0.1 (Linux) Tomoriva-Desktop");
    EXPECT_EQ(requests[0].cookie, "");
    EXPECT_EQ(requests[1].path, "/api/version");
    EXPECT_EQ(requests[1].cookie, "orvan_session=abc; theme=dark");

    server_.clearRequests();
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(StandInServerTest, RequestBodiesAreRecorded)
{
    const auto cookie = signIn();
    server_.clearRequests();
    push("POST", R"({"deviceToken":"abc"})", cookie);
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, R"({"deviceToken":"abc"})");
    EXPECT_EQ(requests[0].cookie, cookie);
}

TEST_F(StandInServerTest, ControlEndpointChangesStateAndIsNotRecorded)
{
    const auto applied = control("/__control", R"({
        "badges": {"outbox": 7, "chatMentions": 2},
        "deploymentId": "d-9",
        "signedIn": true,
        "pushResponse": {"status": 418, "body": "teapot"}
    })");
    ASSERT_EQ(applied.status, 204u) << applied.body;

    const auto badges = client_.get(url("/api/badges"));
    ASSERT_EQ(badges.status, 200u);
    EXPECT_EQ(badges.json()["outbox"], 7);
    EXPECT_EQ(badges.json()["chatMentions"], 2);
    EXPECT_EQ(client_.get(url("/api/version")).json()["deploymentId"], "d-9");
    const auto pushed = push("POST", R"({"deviceToken":"abc"})", "");
    EXPECT_EQ(pushed.status, 418u);
    EXPECT_EQ(pushed.body, "teapot");

    const auto listed = client_.get(url("/__control/requests"));
    ASSERT_EQ(listed.status, 200u);
    const auto requests = listed.json();
    ASSERT_TRUE(requests.is_array());
    ASSERT_EQ(requests.size(), 3u) << requests.dump();
    EXPECT_EQ(requests[0]["path"], "/api/badges");
    EXPECT_EQ(requests[1]["path"], "/api/version");
    EXPECT_EQ(requests[2]["method"], "POST");
    EXPECT_EQ(requests[2]["path"], "/api/push/apns/register");
    EXPECT_EQ(requests[2]["body"], R"({"deviceToken":"abc"})");
    EXPECT_EQ(requests[2]["userAgent"], "OrvanWebappTest/1.0");
    for (const auto& record : requests) {
        for (const char* key : {"method", "path", "query", "userAgent", "cookie", "body"})
            EXPECT_TRUE(record.contains(key) && record[key].is_string()) << key;
    }
    EXPECT_EQ(server_.requests().size(), 3u);

    ASSERT_EQ(control("/__control", R"({"deploymentId": null, "signedIn": false, "pushResponse": {"status": 0}})").status, 204u);
    EXPECT_TRUE(client_.get(url("/api/version")).json()["deploymentId"].is_null());
    EXPECT_EQ(client_.get(url("/api/badges")).status, 401u);
    EXPECT_EQ(push("POST", R"({"deviceToken":"abc"})", "").status, 401u);

    EXPECT_EQ(control("/__control/clear", "").status, 204u);
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_EQ(client_.get(url("/__control/requests")).json(), nlohmann::json::array());
}

TEST_F(StandInServerTest, ControlEndpointRejectsBadPayloadsWholly)
{
    server_.setDeploymentId("kept");
    for (const char* body : {"nonsense", "[]", R"({"deploymentId": "changed", "signedIn": "yes"})",
             R"({"deploymentId": "changed", "badges": 3})", R"({"deploymentId": 5})",
             R"({"deploymentId": "changed", "pushResponse": {"status": 42}})"}) {
        EXPECT_EQ(control("/__control", body).status, 400u) << body;
    }
    EXPECT_EQ(client_.get(url("/api/version")).json()["deploymentId"], "kept");
    EXPECT_EQ(client_.get(url("/api/badges")).status, 401u);
    EXPECT_EQ(server_.requests().size(), 2u);
}

TEST_F(StandInServerTest, RecordingsAreStoredAndServedBack)
{
    HttpRequest raw;
    raw.method = "POST";
    raw.url = url("/api/recordings");
    raw.body = std::string(1234, '\x01');
    raw.contentType = "audio/webm";
    raw.headers.emplace_back("X-File-Name", "%E4%BC%9A%E8%AD%B0.webm");
    EXPECT_EQ(client_.send(raw).status, 201u);

    const std::string boundary = "orvanBoundary7";
    HttpRequest form;
    form.method = "POST";
    form.url = url("/api/recordings");
    form.contentType = "multipart/form-data; boundary=" + boundary;
    form.body = "--" + boundary + "\r\n"
        "Content-Disposition: form-data; name=\"title\"\r\n\r\n"
        "weekly\r\n"
        "--" + boundary + "\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"standup.m4a\"\r\n"
        "Content-Type: audio/mp4\r\n\r\n"
        + std::string(300, 'a') + "\r\n"
        "--" + boundary + "--\r\n";
    const auto stored = client_.send(form);
    ASSERT_EQ(stored.status, 201u) << stored.body;
    EXPECT_EQ(stored.json()["stored"], nlohmann::json::parse(R"([{"name":"standup.m4a","size":300}])"));

    HttpRequest unnamed = raw;
    unnamed.headers.clear();
    EXPECT_EQ(client_.send(unnamed).status, 400u);

    const auto expected = nlohmann::json::parse(R"([{"name":"会議.webm","size":1234},{"name":"standup.m4a","size":300}])");
    const auto listed = client_.get(url("/api/recordings"));
    ASSERT_EQ(listed.status, 200u);
    EXPECT_EQ(listed.json(), expected);
    EXPECT_EQ(nlohmann::json(server_.uploads()), expected);

    // Each upload plays back as it was received.
    const auto first = client_.get(url("/api/recordings/0"));
    ASSERT_EQ(first.status, 200u);
    EXPECT_EQ(first.body, std::string(1234, '\x01'));
    EXPECT_EQ(first.header("Content-Type").value_or(""), "audio/mp4");
    EXPECT_EQ(client_.get(url("/api/recordings/1")).body, std::string(300, 'a'));
    for (const char* missing : {"/api/recordings/2", "/api/recordings/x", "/api/recordings/", "/api/recordings/-1"}) {
        EXPECT_EQ(client_.get(url(missing)).status, 404u) << missing;
    }
}

TEST_F(StandInServerTest, WrongMethodsAreRefused)
{
    HttpRequest request;
    request.method = "PUT";
    request.url = url("/api/push/apns/register");
    request.body = "{}";
    request.contentType = "application/json";
    const auto response = client_.send(request);
    EXPECT_EQ(response.status, 405u);
    EXPECT_EQ(response.header("Allow").value_or(""), "POST, DELETE");

    request.url = url("/api/badges");
    EXPECT_EQ(client_.send(request).status, 405u);
    request.method = "GET";
    request.url = url("/__control");
    EXPECT_EQ(client_.send(request).status, 405u);
}

}  // namespace
}  // namespace orvan::webapp::test
