#include "tools/webapp/Routes.h"
#include "tools/webapp/Upload.h"

namespace orvan::webapp {
namespace {

// Counters and the deployment id change under the shell's feet; a cached answer would hide that.
Response uncached(Response response)
{
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

Response unauthorized()
{
    return jsonResponse(401, {{"error", "unauthorized"}});
}

Response badges(AppState& state, const Request& request)
{
    if (request.method != "GET" && request.method != "HEAD")
        return methodNotAllowed("GET, HEAD");
    if (!state.isSignedIn(request.header("Cookie").value_or("")))
        return uncached(unauthorized());
    return uncached(jsonResponse(200, state.badgeCounts()));
}

Response version(AppState& state, const Request& request)
{
    if (request.method != "GET" && request.method != "HEAD")
        return methodNotAllowed("GET, HEAD");
    const auto id = state.deploymentId();
    return uncached(jsonResponse(200, {{"deploymentId", id ? nlohmann::json(*id) : nlohmann::json(nullptr)}}));
}

Response pushRegistration(AppState& state, const Request& request)
{
    if (request.method != "POST" && request.method != "DELETE")
        return methodNotAllowed("POST, DELETE");
    // A forced answer stands in for a failing or odd server, so it takes the place of all handling.
    if (const auto forced = state.pushResponse()) {
        Response response{forced->status, {}, forced->body, {}};
        if (!forced->body.empty())
            response.contentType = "application/json";
        return response;
    }
    if (!state.isSignedIn(request.header("Cookie").value_or("")))
        return unauthorized();
    if (request.method == "DELETE") {
        state.setPushToken(std::nullopt);
        return jsonResponse(200, {{"ok", true}});
    }
    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains("deviceToken") || !body["deviceToken"].is_string()
        || body["deviceToken"].get<std::string>().empty())
        return jsonResponse(400, {{"ok", false}});
    state.setPushToken(body["deviceToken"].get<std::string>());
    return jsonResponse(200, {{"ok", true}});
}

Response recordings(AppState& state, const Request& request)
{
    if (request.method == "GET" || request.method == "HEAD")
        return uncached(jsonResponse(200, nlohmann::json(state.uploads())));
    if (request.method != "POST")
        return methodNotAllowed("GET, HEAD, POST");
    const auto files = uploadedFiles(request);
    if (files.empty())
        return jsonResponse(400, {{"ok", false}, {"error", "no file"}});
    nlohmann::json stored = nlohmann::json::array();
    for (const auto& file : files) {
        state.addUpload(file.name, file.bytes);
        stored.push_back({{"name", file.name}, {"size", file.size}});
    }
    return jsonResponse(201, {{"ok", true}, {"stored", stored}});
}

// "/api/recordings/<n>": the n-th upload (from 0) as it was received, for the page to play back.
Response recording(const AppState& state, const Request& request, std::string_view index)
{
    if (request.method != "GET" && request.method != "HEAD")
        return methodNotAllowed("GET, HEAD");
    std::size_t position = 0;
    for (const char c : index) {
        if (c < '0' || c > '9' || position > 1000000)
            return jsonResponse(404, {{"error", "not found"}});
        position = position * 10 + static_cast<std::size_t>(c - '0');
    }
    const auto bytes = index.empty() ? std::nullopt : state.uploadBytes(position);
    if (!bytes)
        return jsonResponse(404, {{"error", "not found"}});
    return uncached(Response{200, "audio/mp4", *bytes, {}});
}

}  // namespace

Response routeApi(AppState& state, const Request& request)
{
    const std::string& path = request.path;
    if (path == "/api/badges")
        return badges(state, request);
    if (path == "/api/version")
        return version(state, request);
    if (path == "/api/push/apns/register")
        return pushRegistration(state, request);
    if (path == "/api/recordings")
        return recordings(state, request);
    if (path.starts_with("/api/recordings/"))
        return recording(state, request, std::string_view(path).substr(std::string_view("/api/recordings/").size()));
    return jsonResponse(404, {{"error", "not found"}});
}

}  // namespace orvan::webapp
