#include "tools/webapp/Http.h"

#include <glib.h>

#include "tools/webapp/Form.h"

namespace orvan::webapp {

std::optional<std::string> Request::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && g_ascii_strncasecmp(key.data(), name.data(), key.size()) == 0)
            return value;
    }
    return std::nullopt;
}

std::optional<std::string> Request::param(const std::string& name) const
{
    const auto fields = decodeForm(query);
    const auto found = fields.find(name);
    if (found == fields.end())
        return std::nullopt;
    return found->second;
}

Response htmlResponse(int status, std::string html)
{
    return Response{status, "text/html; charset=utf-8", std::move(html), {}};
}

std::string dumpJson(const nlohmann::json& value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Response jsonResponse(int status, const nlohmann::json& value)
{
    return Response{status, "application/json", dumpJson(value), {}};
}

Response emptyResponse(int status)
{
    return Response{status, {}, {}, {}};
}

Response seeOther(std::string location)
{
    Response response = emptyResponse(303);
    response.headers.emplace_back("Location", std::move(location));
    return response;
}

Response methodNotAllowed(std::string allow)
{
    Response response = jsonResponse(405, {{"error", "method not allowed"}});
    response.headers.emplace_back("Allow", std::move(allow));
    return response;
}

}  // namespace orvan::webapp
