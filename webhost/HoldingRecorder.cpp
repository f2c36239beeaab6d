#include "webhost/HoldingRecorder.h"

#include <utility>

namespace orvan {

HoldingRecorder::HoldingRecorder(std::shared_ptr<RecorderCommands> recorder, std::shared_ptr<ApplicationHolds> holds)
    : recorder_(std::move(recorder)), holds_(std::move(holds)) {}

// The completions run on the main loop and let go of their holds there; copies of a completion may
// die later on other threads, holding nothing by then.
void HoldingRecorder::start(Done done) {
    // Held already while starting: the capture may be half set up when the window closes.
    auto starting = std::make_shared<ApplicationHolds::Hold>(holds_->hold());
    recorder_->start([starting, recording = recording_, done = std::move(done)](std::optional<RecordingFailure> failure) {
        if (failure) starting->reset();
        else *recording = std::exchange(*starting, nullptr);
        done(std::move(failure));
    });
}

void HoldingRecorder::pause(Done done) { recorder_->pause(std::move(done)); }

void HoldingRecorder::resume(Done done) { recorder_->resume(std::move(done)); }

void HoldingRecorder::stop(PathDone done) {
    // Finishing the file takes a while; the hold lasts until it is written, whatever the outcome.
    auto finishing = std::make_shared<ApplicationHolds::Hold>(holds_->hold());
    recorder_->stop([finishing, recording = recording_, done = std::move(done)](
                        std::variant<std::string, RecordingFailure> result) {
        recording->reset();
        finishing->reset();
        done(std::move(result));
    });
}

void HoldingRecorder::pending(PendingDone done) { recorder_->pending(std::move(done)); }

void HoldingRecorder::discard(const std::string& path, Done done) { recorder_->discard(path, std::move(done)); }

}  // namespace orvan
