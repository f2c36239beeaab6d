#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "macshell/MacShellPort.h"
#include "platform/UrlOpener.h"
#include "platform/UserNotificationCenter.h"
#include "recording/RecorderCommands.h"
#include "webhost/SignInRunner.h"

namespace orvan::testing {

// Answers with what the test set; `calls` lists what was asked, in order.
class FakeRecorder final : public RecorderCommands {
public:
    void start(Done done) override { calls.push_back("start"); done(failure); }
    void pause(Done done) override { calls.push_back("pause"); done(failure); }
    void resume(Done done) override { calls.push_back("resume"); done(failure); }
    void stop(PathDone done) override {
        calls.push_back("stop");
        if (failure) done(*failure);
        else done(std::string("/rec/meeting.m4a"));
    }
    void pending(PendingDone done) override {
        calls.push_back("pending");
        if (failure) done(*failure);
        else done(pendingPath);
    }
    void discard(const std::string& path, Done done) override {
        calls.push_back("discard:" + path);
        done(failure);
    }

    std::optional<RecorderError> failure;
    std::optional<std::string> pendingPath;
    std::vector<std::string> calls;
};

class FakeMacShell final : public MacShellPort {
public:
    void applyBadges(const nlohmann::json& counts) override { events.push_back("badges:" + counts.dump()); }
    void recordingStarted() override { events.push_back("started"); }
    void setPaused(bool paused) override { events.push_back(paused ? "paused" : "unpaused"); }
    void recordingEnded() override { events.push_back("ended"); }
    std::vector<std::string> events;
};

class FakeUserNotificationCenter final : public UserNotificationCenter {
public:
    void add(const NotificationRequest& request) override { added.push_back(request); }
    void remove(const std::string& identifier) override { removed.push_back(identifier); }
    void authorization(std::function<void(NotificationAuthorization)> completion) override {
        ++authorizationReads;
        completion(status);
    }
    void requestAuthorization(std::function<void(bool)> completion) override {
        ++requests;
        if (grantOnRequest) status = NotificationAuthorization::authorized;
        completion(status == NotificationAuthorization::authorized);
    }
    void setResponseHandler(std::function<void(const NotificationResponse&)> handler) override {
        responseHandler = std::move(handler);
    }

    NotificationAuthorization status = NotificationAuthorization::notDetermined;
    bool grantOnRequest = false;
    int authorizationReads = 0;
    int requests = 0;
    std::vector<NotificationRequest> added;
    std::vector<std::string> removed;
    std::function<void(const NotificationResponse&)> responseHandler;
};

// Keeps the completion until the test finishes the open call.
class FakeUrlOpener final : public UrlOpener {
public:
    void open(const Url& url, std::function<void()> completion) override {
        opened.push_back(url.string());
        completions.push_back(std::move(completion));
    }
    void finishAll() {
        auto pending = std::move(completions);
        completions.clear();
        for (auto& completion : pending) completion();
    }
    std::vector<std::string> opened;
    std::vector<std::function<void()>> completions;
};

class FakeSignInRunner final : public SignInRunner {
public:
    void run(const Url& url, const std::string& callbackHost, const std::string& callbackPath,
             const std::shared_ptr<WebView>&, const Url& appURL, std::function<void(std::string)> done) override {
        runs.push_back(url.string() + " " + callbackHost + " " + callbackPath + " " + appURL.string());
        done("ok");
    }
    std::vector<std::string> runs;
};

}  // namespace orvan::testing
