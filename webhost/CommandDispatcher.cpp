#include "webhost/CommandDispatcher.h"

#include <array>
#include <utility>

namespace orvan {

namespace {

const std::array<const char*, 4> kExternalSchemes = {"https", "http", "mailto", "tel"};

// A value of the wrong type counts as missing.
std::optional<std::string> stringArgument(const nlohmann::json& body, const char* key) {
    const auto found = body.find(key);
    if (found == body.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

const char* authorizationText(NotificationAuthorization status) {
    switch (status) {
    case NotificationAuthorization::authorized:
        return "granted";
    case NotificationAuthorization::denied:
        return "denied";
    case NotificationAuthorization::notDetermined:
        return "default";
    }
    return "default";
}

ScriptReply unknown(const std::string& cmd) { return ScriptReply::error(kUnknownCommandPrefix + cmd); }

RecorderCommands::Done replyWithNothing(ReplyOnce reply, std::function<void()> onSuccess = {}) {
    return [reply = std::move(reply), onSuccess = std::move(onSuccess)](std::optional<RecordingFailure> error) {
        if (error) {
            reply(ScriptReply::error(error->description()));
            return;
        }
        if (onSuccess) onSuccess();
        reply(ScriptReply::nothing());
    };
}

}  // namespace

CommandDispatcher::CommandDispatcher(CommandPorts ports) : ports_(std::move(ports)) {}

bool CommandDispatcher::passesChecks(const ScriptMessage& message, const Url& appURL) {
    if (!message.fromMainFrame) return false;
    const auto appHost = appURL.host();
    if (!message.senderHost || !appHost || *message.senderHost != *appHost) return false;
    if (!message.body.is_object()) return false;
    const auto cmd = message.body.find("cmd");
    return cmd != message.body.end() && cmd->is_string();
}

void CommandDispatcher::dispatch(const ScriptMessage& message, const Url& appURL,
                                 const std::weak_ptr<WebView>& webView, const ReplyOnce& reply) const {
    if (!passesChecks(message, appURL)) {
        reply(ScriptReply::error(kInvalidCallMessage));
        return;
    }
    const std::string cmd = message.body["cmd"].get<std::string>();
    if (message.channel == kShellChannel) {
        dispatchShell(cmd, message.body, reply);
    } else {
        dispatchRecorder(cmd, message.body, message.channel, appURL, webView, reply);
    }
}

void CommandDispatcher::dispatchRecorder(const std::string& cmd, const nlohmann::json& body,
                                         const std::string& channel, const Url& appURL,
                                         const std::weak_ptr<WebView>& webView, const ReplyOnce& reply) const {
    auto& recorder = *ports_.recorder;
    auto shell = ports_.macShell;
    if (cmd == "start") {
        recorder.start(replyWithNothing(reply, [shell] { shell->recordingStarted(); }));
    } else if (cmd == "pause") {
        recorder.pause(replyWithNothing(reply, [shell] { shell->setPaused(true); }));
    } else if (cmd == "resume") {
        recorder.resume(replyWithNothing(reply, [shell] { shell->setPaused(false); }));
    } else if (cmd == "stop") {
        recorder.stop([reply, shell](std::variant<std::string, RecordingFailure> result) {
            // The shell hears of the end of recording whether or not the file could be finished.
            shell->recordingEnded();
            if (const auto* path = std::get_if<std::string>(&result)) {
                reply(ScriptReply::string(*path));
            } else {
                reply(ScriptReply::error(std::get<RecordingFailure>(result).description()));
            }
        });
    } else if (cmd == "pending") {
        recorder.pending([reply](std::variant<std::optional<std::string>, RecordingFailure> result) {
            if (const auto* path = std::get_if<std::optional<std::string>>(&result)) {
                reply(*path ? ScriptReply::string(**path) : ScriptReply::null());
            } else {
                reply(ScriptReply::error(std::get<RecordingFailure>(result).description()));
            }
        });
    } else if (cmd == "discard") {
        const auto path = stringArgument(body, "path");
        if (!path) {
            reply(ScriptReply::nothing());
            return;
        }
        recorder.discard(*path, replyWithNothing(reply));
    } else if (cmd == "openExternal") {
        const auto text = stringArgument(body, "url");
        const auto url = text ? Url::parse(*text) : std::nullopt;
        bool external = false;
        if (url) {
            const std::string scheme = asciiLower(url->scheme());
            for (const char* allowed : kExternalSchemes) external = external || scheme == allowed;
        }
        if (!external || !ports_.opener) {
            reply(ScriptReply::nothing());
            return;
        }
        ports_.opener->open(*url, [reply] { reply(ScriptReply::nothing()); });
    } else if (cmd == "startOAuth") {
        const auto text = stringArgument(body, "url");
        const auto callbackHost = stringArgument(body, "callbackHost");
        const auto callbackPath = stringArgument(body, "callbackPath");
        const auto url = text ? Url::parse(*text) : std::nullopt;
        auto view = webView.lock();
        if (channel != kRecorderChannel || !url || !callbackHost || !callbackPath || !view || !ports_.signIn) {
            reply(ScriptReply::string("error"));
            return;
        }
        ports_.signIn->run(*url, *callbackHost, *callbackPath, view, appURL,
                           [reply](std::string result) { reply(ScriptReply::string(std::move(result))); });
    } else {
        reply(unknown(cmd));
    }
}

void CommandDispatcher::dispatchShell(const std::string& cmd, const nlohmann::json& body,
                                      const ReplyOnce& reply) const {
    if (cmd == "badges") {
        const auto counts = body.find("counts");
        if (counts != body.end() && counts->is_object()) ports_.macShell->applyBadges(*counts);
        reply(ScriptReply::nothing());
    } else if (cmd == "notify") {
        notify(body);
        reply(ScriptReply::nothing());
    } else if (cmd == "notificationPermission") {
        ports_.notifications->authorization(
            [reply](NotificationAuthorization status) { reply(ScriptReply::string(authorizationText(status))); });
    } else if (cmd == "requestNotificationPermission") {
        auto notifications = ports_.notifications;
        notifications->requestAuthorization([reply, notifications](bool) {
            notifications->authorization(
                [reply](NotificationAuthorization status) { reply(ScriptReply::string(authorizationText(status))); });
        });
    } else {
        reply(unknown(cmd));
    }
}

void CommandDispatcher::notify(const nlohmann::json& body) const {
    NotificationRequest request;
    request.title = stringArgument(body, "title").value_or("");
    request.body = stringArgument(body, "body");
    const auto tag = stringArgument(body, "tag");
    const auto sound = body.find("sound");
    request.sound = sound == body.end() || !sound->is_boolean() || sound->get<bool>();
    // A tag makes a later notification replace the earlier one.
    request.identifier = tag ? "web-" + *tag : ports_.newUUID();
    ports_.notifications->add(request);
}

}  // namespace orvan
