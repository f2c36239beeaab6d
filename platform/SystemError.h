#pragma once

#include <string>

namespace orvan {

// A failure reported by the system (file system, sound server, encoder), carrying the system's own
// message unchanged.
struct SystemError {
    std::string description;

    friend bool operator==(const SystemError&, const SystemError&) = default;
};

}  // namespace orvan
