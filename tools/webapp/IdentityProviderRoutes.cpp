#include <string>

#include "tools/webapp/Form.h"
#include "tools/webapp/Routes.h"
#include "tools/webapp/Session.h"

namespace orvan::webapp {

namespace {

constexpr const char* kAccountCookie = "idp_account";

// Only absolute https callbacks, as a real identity provider insists on.
bool acceptableRedirect(const std::string& uri) {
    return uri.starts_with("https://") && uri.find_first_of(" \r\n\"<>") == std::string::npos;
}

}  // namespace

// A stand-in identity provider: /idp/authorize sends the browser straight back to its redirect_uri
// with a code and the state. It remembers the account in a cookie of its own, so a second sign-in
// in the same browser says remembered=1.
Response routeIdentityProvider(AppState&, const Request& request)
{
    if (request.path != "/idp/authorize") return htmlResponse(404, "<!doctype html><title>404</title>");
    if (request.method != "GET") return methodNotAllowed("GET");
    const auto redirect = request.param("redirect_uri");
    if (!redirect || !acceptableRedirect(*redirect)) {
        return htmlResponse(400, "<!doctype html><title>400</title><p>redirect_uri must be an https URL</p>");
    }
    const bool remembered = cookieValue(request.header("Cookie").value_or(""), kAccountCookie).has_value();
    std::string location = *redirect + (redirect->find('?') == std::string::npos ? "?" : "&") +
                           "code=stand-in-code&state=" + percentEncode(request.param("state").value_or("")) +
                           (remembered ? "&remembered=1" : "");
    Response response = seeOther(location);
    response.headers.emplace_back("Set-Cookie", std::string(kAccountCookie) + "=1; Path=/idp; HttpOnly; Max-Age=31536000");
    return response;
}

}  // namespace orvan::webapp
