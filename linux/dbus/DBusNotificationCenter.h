#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/UserNotificationCenter.h"

namespace orvan {

// User notifications through the desktop's notification server (org.freedesktop.Notifications on
// the session bus). Every call is asynchronous and every callback runs on the GLib default main
// context: create, use and destroy it on the main thread. Failures go to the system log.
class DBusNotificationCenter final : public UserNotificationCenter {
public:
    // Connects to the session bus in the background; requests made meanwhile wait for it.
    DBusNotificationCenter();
    // Connects to the message bus at `busAddress` instead (a D-Bus address such as
    // "unix:path=/run/user/1000/bus"); tests use it to stand for a missing session bus.
    explicit DBusNotificationCenter(const std::string& busAddress);
    ~DBusNotificationCenter() override;
    DBusNotificationCenter(const DBusNotificationCenter&) = delete;
    DBusNotificationCenter& operator=(const DBusNotificationCenter&) = delete;

    void add(const NotificationRequest& request) override;
    void remove(const std::string& identifier) override;
    void authorization(std::function<void(NotificationAuthorization)> completion) override;
    void requestAuthorization(std::function<void(bool granted)> completion) override;
    void setResponseHandler(std::function<void(const NotificationResponse&)> handler) override;

    // The freedesktop sound-theme name played for a request with `sound`.
    static constexpr const char* kSoundName = "message-new-instant";

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace orvan
