#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "platform/AlertPresenter.h"

namespace orvan {

// A modal message dialog with one "OK" button over the application's active window. It does not
// block: the dialog closes itself when answered.
class GtkAlertPresenter final : public AlertPresenter {
public:
    // `application` answers the running application when an alert is due; none shows nothing.
    explicit GtkAlertPresenter(std::function<GtkApplication*()> application) : application_(std::move(application)) {}
    void present(const std::string& title, const std::string& message) override;

private:
    std::function<GtkApplication*()> application_;
};

}  // namespace orvan
