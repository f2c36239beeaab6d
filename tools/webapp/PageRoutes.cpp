#include "tools/webapp/Form.h"
#include "tools/webapp/Pages.h"
#include "tools/webapp/Routes.h"
#include "tools/webapp/Session.h"

namespace orvan::webapp {
namespace {

constexpr std::string_view kMissingUser = "ユーザー名を入力してください。";

Response signedIn(AppState& state, std::string location)
{
    Response response = seeOther(std::move(location));
    response.headers.emplace_back("Set-Cookie", sessionCookie(state.openSession()));
    return response;
}

Response login(AppState& state, const Request& request)
{
    if (request.method == "GET" || request.method == "HEAD")
        return htmlResponse(200, loginPage(request.param("error")));
    if (request.method != "POST")
        return methodNotAllowed("GET, HEAD, POST");
    const auto fields = decodeForm(request.body);
    const auto user = fields.find("user");
    if (user == fields.end() || user->second.empty())
        return seeOther("/auth/login?error=" + percentEncode(kMissingUser));
    return signedIn(state, "/");
}

Response logout(AppState& state, const Request& request)
{
    state.closeSession(request.header("Cookie").value_or(""));
    Response response = seeOther("/auth/login");
    response.headers.emplace_back("Set-Cookie", expiredSessionCookie());
    return response;
}

}  // namespace

Response routePage(AppState& state, const Request& request)
{
    const std::string& path = request.path;
    if (path == "/auth/login")
        return login(state, request);

    const bool reading = request.method == "GET" || request.method == "HEAD";
    if (!reading) {
        Response response = htmlResponse(405, notFoundPage(path));
        response.headers.emplace_back("Allow", "GET, HEAD");
        return response;
    }
    // Sign-in in one GET, so a test can open a session by loading a URL.
    if (path == "/auth/session")
        return signedIn(state, safeNextPath(request.param("next")));
    if (path == "/auth/logout")
        return logout(state, request);
    if (path == "/")
        return htmlResponse(200, startPage());
    if (path == "/meeting-notes/record")
        return htmlResponse(200, recordPage(path, request.query));
    if (isMenuPath(path))
        return htmlResponse(200, sectionPage(path));
    return htmlResponse(404, notFoundPage(path));
}

}  // namespace orvan::webapp
