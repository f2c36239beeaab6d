#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/webapp/RequestRecord.h"

namespace orvan::webapp {

// A small stand-in for the Tomoriva web application, served over plain HTTP on 127.0.0.1,
// so the shell can be exercised without the production service.
class StandInServer {
public:
    StandInServer();
    ~StandInServer();
    StandInServer(const StandInServer&) = delete;
    StandInServer& operator=(const StandInServer&) = delete;

    // Listens on 127.0.0.1:port (0 = any free port) and is served by the thread-default
    // GMainContext of the caller (so an in-process test that iterates its main loop gets requests
    // answered). With a certificate and its key (PEM), over HTTPS. Returns the bound port; throws
    // std::runtime_error with a message on failure.
    unsigned start(unsigned port = 0, const std::string& tlsCertificatePem = {});
    // Closes the port and every connection, as a server that went away; start() again serves anew.
    void stop();
    std::string baseURL() const;  // "http://127.0.0.1:PORT" (https with a certificate)

    std::vector<RequestRecord> requests() const;  // every request received, in order (control endpoints excluded)
    void clearRequests();

    // Values replace the defaults (0) key by key and are served as given; throws
    // std::invalid_argument unless `counts` is an object.
    void setBadgeCounts(const nlohmann::json& counts);
    void setDeploymentId(std::optional<std::string> id);  // nullopt → the endpoint answers null
    // true: every request counts as signed in; false: only requests carrying a valid session cookie.
    void setSignedIn(bool signedIn);
    // Overrides the next answers of /api/push/apns/register (status, raw body); reset with status 0.
    // Throws std::invalid_argument for a status outside 100–599 (other than 0).
    void setPushResponse(int status, std::string body);
    // The device token last registered and not deleted since.
    std::optional<std::string> pushDeviceToken() const;
    std::vector<nlohmann::json> uploads() const;  // metadata of recordings uploaded (name, size)

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvan::webapp
