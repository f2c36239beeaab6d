#include "macshell/RecorderActivity.h"

#include <utility>

namespace orvan {

RecorderActivity::RecorderActivity(std::shared_ptr<RecorderCommands> recorder) : recorder_(std::move(recorder)) {}

void RecorderActivity::setListener(Listener listener) { state_->listener = std::move(listener); }

void RecorderActivity::start(Done done) {
    ++state_->starts;
    recorder_->start([state = state_, done = std::move(done)](std::optional<RecordingFailure> failure) {
        --state->starts;
        // The caller hears first: a page's start tells the session it runs before the session settles it.
        done(failure);
        if (state->listener.startSettled) state->listener.startSettled(!failure);
    });
}

void RecorderActivity::stop(PathDone done) {
    ++state_->stops;
    recorder_->stop([state = state_, done = std::move(done)](std::variant<std::string, RecordingFailure> result) {
        --state->stops;
        done(std::move(result));
    });
}

}  // namespace orvan
