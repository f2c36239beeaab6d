#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvan::webapp {

inline constexpr std::string_view kSessionCookie = "orvan_session";

// The value of cookie `name` in a Cookie request header.
std::optional<std::string> cookieValue(std::string_view cookieHeader, std::string_view name);

// 128 random bits in hex: unguessable enough that a test cannot sign in by accident.
std::string newSessionId();

// Set-Cookie values that open and close the session.
std::string sessionCookie(std::string_view id);
std::string expiredSessionCookie();

// Where a sign-in may send the browser next: only a path on this origin. "//host" and "/\host"
// would leave it (browsers read both as a network path), so they and anything else fall back to "/".
std::string safeNextPath(const std::optional<std::string>& next);

}  // namespace orvan::webapp
