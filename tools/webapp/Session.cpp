#include "tools/webapp/Session.h"

#include <array>
#include <cstdio>
#include <random>

namespace orvan::webapp {
namespace {

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<std::string> cookieValue(std::string_view cookieHeader, std::string_view name)
{
    while (!cookieHeader.empty()) {
        const auto end = cookieHeader.find(';');
        const std::string_view pair = trim(cookieHeader.substr(0, end));
        const auto equals = pair.find('=');
        if (equals != std::string_view::npos && trim(pair.substr(0, equals)) == name)
            return std::string(trim(pair.substr(equals + 1)));
        if (end == std::string_view::npos)
            break;
        cookieHeader.remove_prefix(end + 1);
    }
    return std::nullopt;
}

std::string newSessionId()
{
    std::random_device device;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        std::array<char, 9> chunk{};
        std::snprintf(chunk.data(), chunk.size(), "%08x", static_cast<unsigned>(device()));
        id += chunk.data();
    }
    return id;
}

std::string sessionCookie(std::string_view id)
{
    return std::string(kSessionCookie) + "=" + std::string(id) + "; Path=/; HttpOnly; SameSite=Lax";
}

std::string expiredSessionCookie()
{
    return std::string(kSessionCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax";
}

std::string safeNextPath(const std::optional<std::string>& next)
{
    if (!next || next->empty() || next->front() != '/')
        return "/";
    if (next->size() > 1 && ((*next)[1] == '/' || (*next)[1] == '\\'))
        return "/";
    // Control characters would end up in the Location header.
    for (unsigned char c : *next) {
        if (c < 0x20 || c == 0x7f)
            return "/";
    }
    return *next;
}

}  // namespace orvan::webapp
