#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvan::webapp {

// A request as the routes see it: copied out of libsoup so the routes stay plain C++.
struct Request {
    std::string method;
    std::string path;   // as sent, still percent-encoded
    std::string query;  // raw, without "?"; empty when absent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // Case-insensitive, as HTTP header names are; the first occurrence wins.
    std::optional<std::string> header(std::string_view name) const;
    // The decoded query parameter.
    std::optional<std::string> param(const std::string& name) const;
};

struct Response {
    int status = 200;
    std::string contentType;  // empty: no body
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

Response htmlResponse(int status, std::string html);
// JSON that cannot be UTF-8 (recorded binary bodies) is written with U+FFFD rather than failing.
Response jsonResponse(int status, const nlohmann::json& value);
Response emptyResponse(int status);
Response seeOther(std::string location);
Response methodNotAllowed(std::string allow);

std::string dumpJson(const nlohmann::json& value);

}  // namespace orvan::webapp
