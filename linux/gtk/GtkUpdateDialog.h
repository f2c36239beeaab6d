#pragma once

#include <gtk/gtk.h>

#include "platform/UpdatePorts.h"

namespace orvan {

// The update check's one window: the offer with its release notes, then the download's progress,
// or a message. Each call replaces what was shown before.
class GtkUpdateDialog final : public UpdateDialog {
public:
    ~GtkUpdateDialog() override;
    void showOffer(const UpdateOffer& offer, std::function<void(Choice)> chosen) override;
    void showProgress(double fraction) override;
    void showMessage(const std::string& title, const std::string& detail) override;
    void bringForward() override;
    void close() override;

private:
    void replace(GtkWidget* window);

    GtkWidget* window_ = nullptr;  // weak: cleared when the window goes
    GtkWidget* progress_ = nullptr;  // inside window_: gone with it
    // The user closed the download's progress: it stays closed until asked for again.
    bool progressClosed_ = false;
    double fraction_ = 0;
    std::function<void(Choice)> chosen_;
};

}  // namespace orvan
