#pragma once

#include <string>

namespace orvan {

// Shows a message with one "OK" button over the application's active window. Called on the main
// loop; shows nothing when no window of the application is active.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual void present(const std::string& title, const std::string& message) = 0;
};

}  // namespace orvan
