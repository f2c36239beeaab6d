#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/webapp/RequestRecord.h"

namespace orvan::webapp {

// A forced answer for the push registration endpoint.
struct PushOverride {
    int status = 0;
    std::string body;
};

// Everything the stand-in remembers. Guarded by one mutex because a test may read or change it
// from a thread other than the one whose main context serves requests.
class AppState {
public:
    void record(RequestRecord request);
    std::vector<RequestRecord> requests() const;
    void clearRequests();

    // Throws std::invalid_argument unless `counts` is an object.
    void setBadgeCounts(const nlohmann::json& counts);
    // The nine counters, 0 unless set.
    nlohmann::json badgeCounts() const;

    void setDeploymentId(std::optional<std::string> id);
    std::optional<std::string> deploymentId() const;

    void setSignedIn(bool signedIn);
    bool isSignedIn(std::string_view cookieHeader) const;
    // Returns the new session's id.
    std::string openSession();
    // Ends the session named by the cookie header, if any.
    void closeSession(std::string_view cookieHeader);

    // Status 0 removes the override; otherwise it must be 100–599 (std::invalid_argument).
    void setPushResponse(int status, std::string body);
    std::optional<PushOverride> pushResponse() const;
    void setPushToken(std::optional<std::string> token);
    std::optional<std::string> pushToken() const;

    void addUpload(std::string name, std::string bytes);
    // Name and size of each upload, in arrival order.
    std::vector<nlohmann::json> uploads() const;
    // The bytes of the upload at `index` of that list.
    std::optional<std::string> uploadBytes(std::size_t index) const;

private:
    mutable std::mutex mutex_;
    std::vector<RequestRecord> requests_;
    nlohmann::json badgeOverrides_ = nlohmann::json::object();
    std::optional<std::string> deploymentId_;
    bool signedIn_ = false;
    std::set<std::string, std::less<>> sessions_;
    std::optional<PushOverride> pushOverride_;
    std::optional<std::string> pushToken_;
    std::vector<nlohmann::json> uploads_;
    std::vector<std::string> uploadBytes_;
};

// The counters the shell's badge poll reads, in a fixed order.
inline constexpr std::string_view kBadgeKeys[] = {
    "salesToday", "outbox", "approvals", "todayFocus", "companyVerify",
    "chatUnread", "chatMentions", "chatDirect", "notifications",
};

}  // namespace orvan::webapp
