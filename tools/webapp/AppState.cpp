#include "tools/webapp/AppState.h"

#include <stdexcept>

#include "tools/webapp/Session.h"

namespace orvan::webapp {

void AppState::record(RequestRecord request)
{
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
}

std::vector<RequestRecord> AppState::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void AppState::clearRequests()
{
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void AppState::setBadgeCounts(const nlohmann::json& counts)
{
    if (!counts.is_object())
        throw std::invalid_argument("badge counts must be a JSON object");
    std::lock_guard lock(mutex_);
    badgeOverrides_ = counts;
}

nlohmann::json AppState::badgeCounts() const
{
    nlohmann::json counts = nlohmann::json::object();
    for (auto key : kBadgeKeys)
        counts[std::string(key)] = 0;
    std::lock_guard lock(mutex_);
    // Passed through as given, odd values included, so the shell's handling of them can be tested.
    for (const auto& [key, value] : badgeOverrides_.items())
        counts[key] = value;
    return counts;
}

void AppState::setDeploymentId(std::optional<std::string> id)
{
    std::lock_guard lock(mutex_);
    deploymentId_ = std::move(id);
}

std::optional<std::string> AppState::deploymentId() const
{
    std::lock_guard lock(mutex_);
    return deploymentId_;
}

void AppState::setSignedIn(bool signedIn)
{
    std::lock_guard lock(mutex_);
    signedIn_ = signedIn;
}

bool AppState::isSignedIn(std::string_view cookieHeader) const
{
    const auto id = cookieValue(cookieHeader, kSessionCookie);
    std::lock_guard lock(mutex_);
    return signedIn_ || (id && sessions_.contains(*id));
}

std::string AppState::openSession()
{
    std::string id = newSessionId();
    std::lock_guard lock(mutex_);
    sessions_.insert(id);
    return id;
}

void AppState::closeSession(std::string_view cookieHeader)
{
    const auto id = cookieValue(cookieHeader, kSessionCookie);
    if (!id)
        return;
    std::lock_guard lock(mutex_);
    sessions_.erase(*id);
}

void AppState::setPushResponse(int status, std::string body)
{
    if (status != 0 && (status < 100 || status > 599))
        throw std::invalid_argument("push response status must be 0 or 100-599");
    std::lock_guard lock(mutex_);
    if (status == 0)
        pushOverride_.reset();
    else
        pushOverride_ = PushOverride{status, std::move(body)};
}

std::optional<PushOverride> AppState::pushResponse() const
{
    std::lock_guard lock(mutex_);
    return pushOverride_;
}

void AppState::setPushToken(std::optional<std::string> token)
{
    std::lock_guard lock(mutex_);
    pushToken_ = std::move(token);
}

std::optional<std::string> AppState::pushToken() const
{
    std::lock_guard lock(mutex_);
    return pushToken_;
}

void AppState::addUpload(std::string name, std::string bytes)
{
    std::lock_guard lock(mutex_);
    uploads_.push_back({{"name", std::move(name)}, {"size", bytes.size()}});
    uploadBytes_.push_back(std::move(bytes));
}

std::optional<std::string> AppState::uploadBytes(std::size_t index) const
{
    std::lock_guard lock(mutex_);
    if (index >= uploadBytes_.size())
        return std::nullopt;
    return uploadBytes_[index];
}

std::vector<nlohmann::json> AppState::uploads() const
{
    std::lock_guard lock(mutex_);
    return uploads_;
}

}  // namespace orvan::webapp
