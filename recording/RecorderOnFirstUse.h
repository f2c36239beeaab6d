#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <variant>

#include "platform/SystemError.h"
#include "recording/RecorderCommands.h"

namespace orvan {

// The meeting recorder made at its first command instead of at start-up: what it stands on (the
// sound server's client, the encoder and its many libraries) then costs no memory until someone
// records. A recorder that cannot be made answers each command with why, and the next command
// tries again. `Recorder` is the meeting recorder; tests put a stand-in there.
template <typename Recorder>
class RecorderOnFirstUse final : public RecorderCommands {
public:
    using Made = std::variant<std::shared_ptr<Recorder>, SystemError>;
    explicit RecorderOnFirstUse(std::function<Made()> make) : make_(std::move(make)) {}

    void start(Done done) override { withRecorder(done, [&](Recorder& r) { r.start(std::move(done)); }); }
    void pause(Done done) override { withRecorder(done, [&](Recorder& r) { r.pause(std::move(done)); }); }
    void resume(Done done) override { withRecorder(done, [&](Recorder& r) { r.resume(std::move(done)); }); }
    void stop(PathDone done) override { withRecorder(done, [&](Recorder& r) { r.stop(std::move(done)); }); }
    void pending(PendingDone done) override { withRecorder(done, [&](Recorder& r) { r.pending(std::move(done)); }); }
    void discard(const std::string& path, Done done) override {
        withRecorder(done, [&](Recorder& r) { r.discard(path, std::move(done)); });
    }

    // A recorder never made has never recorded.
    bool isRecording() const { return made_ && made_->isRecording(); }
    void closeForExit() {
        if (made_) made_->closeForExit();
    }

private:
    template <typename Completion, typename Command>
    void withRecorder(Completion& done, Command command) {
        if (!made_) {
            auto made = make_();
            if (auto* failure = std::get_if<SystemError>(&made)) {
                done(RecordingFailure(*failure));
                return;
            }
            made_ = std::get<std::shared_ptr<Recorder>>(std::move(made));
        }
        command(*made_);
    }

    std::function<Made()> make_;
    std::shared_ptr<Recorder> made_;
};

}  // namespace orvan
