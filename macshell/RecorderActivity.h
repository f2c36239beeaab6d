#pragma once

#include <functional>
#include <memory>
#include <string>

#include "recording/RecorderCommands.h"

namespace orvan {

// The recorder as both the page and the meeting popup reach it. It counts the starts and stops under
// way, so the meeting session follows what the recorder really did instead of asking it (a start is
// "recording" to the recorder from its first step, a save until the capture is released). Main loop
// only, like every completion of the recorder's commands.
class RecorderActivity final : public RecorderCommands {
public:
    struct Listener {
        // A start has answered: whether the recording runs now.
        std::function<void(bool started)> startSettled;
    };

    explicit RecorderActivity(std::shared_ptr<RecorderCommands> recorder);

    void setListener(Listener listener);
    int startsUnderWay() const { return state_->starts; }
    int stopsUnderWay() const { return state_->stops; }

    void start(Done done) override;
    void pause(Done done) override { recorder_->pause(std::move(done)); }
    void resume(Done done) override { recorder_->resume(std::move(done)); }
    void stop(PathDone done) override;
    void pending(PendingDone done) override { recorder_->pending(std::move(done)); }
    void discard(const std::string& path, Done done) override { recorder_->discard(path, std::move(done)); }

private:
    // Shared with the completions, which may come after this object is gone.
    struct State {
        int starts = 0;
        int stops = 0;
        Listener listener;
    };
    std::shared_ptr<RecorderCommands> recorder_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace orvan
