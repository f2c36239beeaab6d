#pragma once

#include "tools/webapp/AppState.h"
#include "tools/webapp/Http.h"

namespace orvan::webapp {

// Answers one request, recording it unless it is for the control endpoint.
Response route(AppState& state, const Request& request);

// The groups `route` dispatches to, one file each.
Response routePage(AppState& state, const Request& request);     // HTML pages and sign-in
Response routeApi(AppState& state, const Request& request);      // /api/...
Response routeControl(AppState& state, const Request& request);  // /__control...
Response routeIdentityProvider(AppState& state, const Request& request);  // /idp/...

bool isControlPath(std::string_view path);

}  // namespace orvan::webapp
