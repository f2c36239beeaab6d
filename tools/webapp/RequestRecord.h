#pragma once

#include <string>

namespace orvan::webapp {

// One request as the stand-in received it; headers the shell is expected to send are kept verbatim.
struct RequestRecord {
    std::string method, path, query, userAgent, cookie, body;
};

}  // namespace orvan::webapp
