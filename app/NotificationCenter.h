#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/MainLoop.h"

namespace orvan {

// Names of the in-process notifications.
namespace notification_names {
inline constexpr const char* kOpenInternalURL = "officeOpenInternalURL";
inline constexpr const char* kAPNsTokenReady = "officeAPNsTokenReady";
inline constexpr const char* kReload = "officeReload";
inline constexpr const char* kEvaluate = "officeEvaluate";
inline constexpr const char* kOpenPath = "officeOpenPath";
inline constexpr const char* kCaptureFailed = "officeCaptureFailed";
// The running recording's health changed; the object is a RecordingHealth.
inline constexpr const char* kRecordingHealth = "officeRecordingHealth";
// No window of the application is visible any more / one is shown again.
inline constexpr const char* kSceneDidEnterBackground = "sceneDidEnterBackground";
inline constexpr const char* kSceneWillEnterForeground = "sceneWillEnterForeground";
}  // namespace notification_names

struct Notification {
    std::string name;
    std::any object;          // a Url, a std::string, or nothing, depending on the name
    nlohmann::json userInfo;  // an object, or null
};

class NotificationCenter;

// Keeps one observer registered; destroying (or resetting) it removes the observer.
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(std::weak_ptr<NotificationCenter> center, std::uint64_t id);
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken();

    void reset();
    explicit operator bool() const { return id_ != 0; }

private:
    std::weak_ptr<NotificationCenter> center_;
    std::uint64_t id_ = 0;
};

// Names → observers. Each observer gets its own main-loop task per notification, so observers
// never run inside post() and may post in turn.
class NotificationCenter : public std::enable_shared_from_this<NotificationCenter> {
public:
    using Block = std::function<void(const Notification&)>;

    static std::shared_ptr<NotificationCenter> create(MainLoop& mainLoop);

    [[nodiscard]] ObserverToken addObserver(std::string name, Block block);
    void removeObserver(std::uint64_t id);
    // Safe from any thread.
    void post(Notification notification);
    void post(std::string name, std::any object = {}, nlohmann::json userInfo = nullptr);

private:
    explicit NotificationCenter(MainLoop& mainLoop) : mainLoop_(mainLoop) {}

    struct Observer {
        std::string name;
        std::shared_ptr<Block> block;
    };

    MainLoop& mainLoop_;
    std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, Observer> observers_;
};

}  // namespace orvan
