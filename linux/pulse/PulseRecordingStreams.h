#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/Clock.h"
#include "platform/MeetingSources.h"

struct pa_context;
struct pa_threaded_mainloop;
struct pa_source_info;
struct pa_source_output_info;

namespace orvan {

// The sound server's recording streams, kept up to date from its stream events: one listing when
// connected, then every new, changed and removed stream and source. Nothing is polled. When the
// server goes away the streams are forgotten and the connection is made again once it is back.
class PulseRecordingStreams final : public RecordingStreams {
public:
    explicit PulseRecordingStreams(std::shared_ptr<Clock> clock);
    ~PulseRecordingStreams() override;
    PulseRecordingStreams(const PulseRecordingStreams&) = delete;
    PulseRecordingStreams& operator=(const PulseRecordingStreams&) = delete;

    std::vector<RecordingStream> list() override;

private:
    struct Tracked {
        RecordingStream stream;
        uint32_t source = 0;
    };

    // On the sound server's thread.
    void connectContext();
    void contextStateChanged();
    void sourceOutputSeen(const pa_source_output_info& info);
    void sourceSeen(const pa_source_info& info);
    void subscriptionEvent(unsigned facilityAndType, uint32_t index);

    std::shared_ptr<Clock> clock_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    std::mutex mutex_;
    std::map<uint32_t, Tracked> streams_;
    std::map<uint32_t, bool> sourceIsMonitor_;
};

}  // namespace orvan
