#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Url.h"
#include "macshell/MacShellPort.h"
#include "platform/ScriptMessage.h"
#include "platform/UrlOpener.h"
#include "platform/UserNotificationCenter.h"
#include "platform/WebView.h"
#include "recording/RecorderCommands.h"
#include "webhost/SignInRunner.h"

namespace orvan {

inline constexpr const char* kRecorderChannel = "orvanRecorder";
inline constexpr const char* kShellChannel = "orvanShell";
inline constexpr const char* kInvalidCallMessage = "不正な呼び出しです";
inline constexpr const char* kUnknownCommandPrefix = "未知の操作です: ";
// How deep a message body may nest; a deeper one is refused as malformed before anything copies it.
inline constexpr int kMaxBodyLevels = 64;

// What the page commands reach.
struct CommandPorts {
    std::shared_ptr<RecorderCommands> recorder;
    std::shared_ptr<MacShellPort> macShell;
    std::shared_ptr<UserNotificationCenter> notifications;
    std::shared_ptr<UrlOpener> opener;
    std::shared_ptr<SignInRunner> signIn;  // none: "startOAuth" answers "error"
    std::function<std::string()> newUUID;
};

// Checks a page message, runs its command and answers it exactly once.
class CommandDispatcher {
public:
    explicit CommandDispatcher(CommandPorts ports);

    void dispatch(const ScriptMessage& message, const Url& appURL, const std::weak_ptr<WebView>& webView,
                  const ReplyOnce& reply) const;

    // Whether a message may be dispatched at all.
    static bool passesChecks(const ScriptMessage& message, const Url& appURL);

private:
    void dispatchRecorder(const std::string& cmd, const nlohmann::json& body, const std::string& channel,
                          const Url& appURL, const std::weak_ptr<WebView>& webView, const ReplyOnce& reply) const;
    void dispatchShell(const std::string& cmd, const nlohmann::json& body, const ReplyOnce& reply) const;
    void notify(const nlohmann::json& body) const;

    CommandPorts ports_;
};

}  // namespace orvan
