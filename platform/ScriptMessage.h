#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace orvan {

// A message the page posted to one of the shell's channels, with what the engine knows of its sender.
struct ScriptMessage {
    std::string channel;
    bool fromMainFrame = false;
    // The host of the sending document's origin; nullopt when it has none.
    std::optional<std::string> senderHost;
    // The message body as JSON (an object for every well-formed command).
    nlohmann::json body;
};

// The answer to one message: no value, a string, an explicit null, or an error message.
struct ScriptReply {
    enum class Kind { none, string, null, error };
    Kind kind = Kind::none;
    std::string text;

    static ScriptReply nothing() { return {Kind::none, {}}; }
    static ScriptReply string(std::string value) { return {Kind::string, std::move(value)}; }
    static ScriptReply null() { return {Kind::null, {}}; }
    static ScriptReply error(std::string message) { return {Kind::error, std::move(message)}; }

    friend bool operator==(const ScriptReply&, const ScriptReply&) = default;
};

// Answers a message exactly once: later calls are ignored, and a reply dropped unanswered answers
// with no value, so the page's promise never hangs.
class ReplyOnce {
public:
    explicit ReplyOnce(std::function<void(ScriptReply)> send)
        : state_(std::make_shared<State>(std::move(send))) {}

    void operator()(ScriptReply reply) const {
        if (state_->send) std::exchange(state_->send, nullptr)(std::move(reply));
    }

private:
    struct State {
        explicit State(std::function<void(ScriptReply)> s) : send(std::move(s)) {}
        State(const State&) = delete;
        State& operator=(const State&) = delete;
        ~State() {
            if (send) send(ScriptReply::nothing());
        }
        std::function<void(ScriptReply)> send;
    };
    std::shared_ptr<State> state_;
};

}  // namespace orvan
