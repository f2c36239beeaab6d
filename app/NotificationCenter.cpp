#include "app/NotificationCenter.h"

#include <utility>
#include <vector>

namespace orvan {

ObserverToken::ObserverToken(std::weak_ptr<NotificationCenter> center, std::uint64_t id)
    : center_(std::move(center)), id_(id) {}

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : center_(std::move(other.center_)), id_(std::exchange(other.id_, 0)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        reset();
        center_ = std::move(other.center_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

ObserverToken::~ObserverToken() { reset(); }

void ObserverToken::reset() {
    if (id_ == 0) return;
    if (auto center = center_.lock()) center->removeObserver(id_);
    id_ = 0;
}

std::shared_ptr<NotificationCenter> NotificationCenter::create(MainLoop& mainLoop) {
    return std::shared_ptr<NotificationCenter>(new NotificationCenter(mainLoop));
}

ObserverToken NotificationCenter::addObserver(std::string name, Block block) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = nextId_++;
    observers_.emplace(id, Observer{std::move(name), std::make_shared<Block>(std::move(block))});
    return ObserverToken(weak_from_this(), id);
}

void NotificationCenter::removeObserver(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    observers_.erase(id);
}

void NotificationCenter::post(std::string name, std::any object, nlohmann::json userInfo) {
    post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(Notification notification) {
    std::vector<std::pair<std::uint64_t, std::weak_ptr<Block>>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, observer] : observers_) {
            if (observer.name == notification.name) targets.emplace_back(id, observer.block);
        }
    }
    auto shared = std::make_shared<const Notification>(std::move(notification));
    for (auto& [id, block] : targets) {
        // An observer removed before its task runs is not called.
        mainLoop_.post([weakBlock = block, shared] {
            if (auto live = weakBlock.lock()) (*live)(*shared);
        });
    }
}

}  // namespace orvan
