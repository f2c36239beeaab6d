#pragma once

#include <functional>

namespace orvan {

// The application-level permission to record from the microphone.
class RecordPermission {
public:
    virtual ~RecordPermission() = default;
    // Asks (prompting the user where the system does so) and answers once, on any thread.
    virtual void request(std::function<void(bool granted)> answer) = 0;
};

}  // namespace orvan
