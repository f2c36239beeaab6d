#include "tools/webapp/Routes.h"

#include "tools/webapp/UpdateFeed.h"

namespace orvan::webapp {

bool isControlPath(std::string_view path)
{
    return path == "/__control" || path.starts_with("/__control/");
}

Response route(AppState& state, const Request& request)
{
    if (isControlPath(request.path))
        return routeControl(state, request);

    state.record(RequestRecord{request.method, request.path, request.query,
        request.header("User-Agent").value_or(""), request.header("Cookie").value_or(""), request.body});

    if (request.path.starts_with("/updates/"))
        return routeUpdates(request);
    if (request.path.starts_with("/idp/"))
        return routeIdentityProvider(state, request);
    if (request.path == "/api" || request.path.starts_with("/api/"))
        return routeApi(state, request);
    return routePage(state, request);
}

}  // namespace orvan::webapp
