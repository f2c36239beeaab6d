#include "tools/webapp/Routes.h"

namespace orvan::webapp {
namespace {

Response badRequest(std::string message)
{
    return jsonResponse(400, {{"error", std::move(message)}});
}

// Checks the whole payload before changing anything, so a rejected request leaves no half-applied state.
Response applyControl(AppState& state, const Request& request)
{
    const auto payload = nlohmann::json::parse(request.body, nullptr, false);
    if (!payload.is_object())
        return badRequest("body must be a JSON object");
    if (payload.contains("badges") && !payload["badges"].is_object())
        return badRequest("badges must be an object");
    if (payload.contains("deploymentId") && !payload["deploymentId"].is_string()
        && !payload["deploymentId"].is_null())
        return badRequest("deploymentId must be a string or null");
    if (payload.contains("signedIn") && !payload["signedIn"].is_boolean())
        return badRequest("signedIn must be a boolean");
    if (payload.contains("pushResponse")) {
        const auto& push = payload["pushResponse"];
        if (!push.is_object() || !push.contains("status") || !push["status"].is_number_integer()
            || (push.contains("body") && !push["body"].is_string()))
            return badRequest("pushResponse must be {\"status\": int, \"body\": string}");
        const auto status = push["status"].get<long long>();
        if (status != 0 && (status < 100 || status > 599))
            return badRequest("pushResponse status must be 0 or 100-599");
    }

    if (payload.contains("badges"))
        state.setBadgeCounts(payload["badges"]);
    if (payload.contains("deploymentId")) {
        const auto& id = payload["deploymentId"];
        state.setDeploymentId(id.is_null() ? std::nullopt : std::optional(id.get<std::string>()));
    }
    if (payload.contains("signedIn"))
        state.setSignedIn(payload["signedIn"].get<bool>());
    if (payload.contains("pushResponse")) {
        const auto& push = payload["pushResponse"];
        state.setPushResponse(push["status"].get<int>(), push.value("body", std::string()));
    }
    return emptyResponse(204);
}

nlohmann::json requestsJson(const AppState& state)
{
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : state.requests()) {
        list.push_back({{"method", r.method}, {"path", r.path}, {"query", r.query},
            {"userAgent", r.userAgent}, {"cookie", r.cookie}, {"body", r.body}});
    }
    return list;
}

}  // namespace

Response routeControl(AppState& state, const Request& request)
{
    const std::string& path = request.path;
    if (path == "/__control") {
        if (request.method != "POST")
            return methodNotAllowed("POST");
        return applyControl(state, request);
    }
    if (path == "/__control/requests") {
        if (request.method != "GET")
            return methodNotAllowed("GET");
        Response response = jsonResponse(200, requestsJson(state));
        response.headers.emplace_back("Cache-Control", "no-store");
        return response;
    }
    if (path == "/__control/clear") {
        if (request.method != "POST")
            return methodNotAllowed("POST");
        state.clearRequests();
        return emptyResponse(204);
    }
    return jsonResponse(404, {{"error", "not found"}});
}

}  // namespace orvan::webapp
