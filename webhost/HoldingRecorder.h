#pragma once

#include <memory>

#include "platform/ApplicationHolds.h"
#include "recording/RecorderCommands.h"

namespace orvan {

// The recorder as the page's commands reach it, holding the application from a "start" until the
// end of the "stop" that finishes the file: closing the last window meanwhile cuts nothing off, and
// the finished recording waits for "pending" as if the window had stayed.
class HoldingRecorder final : public RecorderCommands {
public:
    HoldingRecorder(std::shared_ptr<RecorderCommands> recorder, std::shared_ptr<ApplicationHolds> holds);

    void start(Done done) override;
    void pause(Done done) override;
    void resume(Done done) override;
    void stop(PathDone done) override;
    void pending(PendingDone done) override;
    void discard(const std::string& path, Done done) override;

private:
    std::shared_ptr<RecorderCommands> recorder_;
    std::shared_ptr<ApplicationHolds> holds_;
    // Held while a recording runs; shared with the completions, which may outlive this object.
    std::shared_ptr<ApplicationHolds::Hold> recording_ = std::make_shared<ApplicationHolds::Hold>();
};

}  // namespace orvan
