#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "platform/RecordingSignals.h"

namespace orvan {

// Owners for libpulse objects. A stream or context must be released with the loop's lock held, or
// after its loop has stopped.
struct PulseStreamDeleter {
    void operator()(pa_stream* stream) const;
};
struct PulseOperationDeleter {
    // An operation still running is cancelled, so its callback never sees freed state.
    void operator()(pa_operation* operation) const {
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
};
struct PulseContextDeleter {
    void operator()(pa_context* context) const {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
struct PulseLoopDeleter {
    void operator()(pa_threaded_mainloop* loop) const {
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }
};
struct PulsePropertiesDeleter {
    void operator()(pa_proplist* properties) const { pa_proplist_free(properties); }
};
using PulseStreamPtr = std::unique_ptr<pa_stream, PulseStreamDeleter>;
using PulseOperationPtr = std::unique_ptr<pa_operation, PulseOperationDeleter>;

// Buffering of a record stream: the server's defaults except the fragment, which would otherwise be
// two seconds.
inline pa_buffer_attr recordBuffering(std::chrono::microseconds fragment, const pa_sample_spec& spec) {
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(fragment.count()), &spec));
    return attributes;
}

// Asks the server, with the lock held, whether `source` is muted at the server and tells `signals`.
// Whoever keeps the query cancels it (by dropping it) before `signals` may go, or when the microphone
// changes, so that a late answer about another source is never told.
PulseOperationPtr askWhetherMuted(pa_context* context, const std::string& source, RecordingSignals& signals);

// A timer on a connection's loop; freed with the lock held.
class PulseTimer {
public:
    PulseTimer() = default;
    PulseTimer(pa_mainloop_api* api, pa_time_event* event) : api_(api), event_(event) {}
    ~PulseTimer() { reset(); }
    PulseTimer(PulseTimer&& other) noexcept : api_(other.api_), event_(std::exchange(other.event_, nullptr)) {}
    PulseTimer& operator=(PulseTimer&& other) noexcept {
        reset();
        api_ = other.api_;
        event_ = std::exchange(other.event_, nullptr);
        return *this;
    }
    void reset() {
        if (event_ != nullptr) api_->time_free(event_);
        event_ = nullptr;
    }
    explicit operator bool() const { return event_ != nullptr; }

private:
    pa_mainloop_api* api_ = nullptr;
    pa_time_event* event_ = nullptr;
};

// A connection to the sound server on a loop thread of its own.
class PulseConnection {
public:
    // The server's description of a capture source.
    struct Source {
        std::string name;
        bool monitor = false;  // the monitor of an output, not a microphone
        bool muted = false;
        pa_source_state_t state = PA_SOURCE_INVALID_STATE;
    };

    // Connects and waits, at most `timeout`, until the server has accepted the connection. The
    // error is the server's own text (for example "Connection refused", "Access denied").
    static std::variant<std::unique_ptr<PulseConnection>, std::string> open(std::chrono::milliseconds timeout);
    // Stops the loop, then disconnects. Not on the loop's thread.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_context* context() const { return context_.get(); }
    pa_threaded_mainloop* loop() const { return loop_.get(); }
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_.get()); }

    // Holds the loop's lock; callbacks run with it held, so they never run at the same time.
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection) : loop_(connection.loop()) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    // With the lock held, not on the loop's thread: waits until `done` holds or `timeout` passes.
    // Callbacks that change what `done` looks at call `wake`.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    static void wake(pa_threaded_mainloop* loop) { pa_threaded_mainloop_signal(loop, 0); }

    // With the lock held: a timer that runs `fire` once on the loop's thread after `delay`.
    PulseTimer after(std::chrono::milliseconds delay, pa_time_event_cb_t fire, void* userdata);

    // The names of the server's default output and capture source; empty where it has none.
    struct Defaults {
        std::string sink;
        std::string source;
    };

    // With the lock held, not on the loop's thread (as every question below): the server's defaults.
    std::variant<Defaults, std::string> defaults(std::chrono::milliseconds timeout);
    // The server's default capture source.
    std::variant<Source, std::string> defaultSource(std::chrono::milliseconds timeout);
    // The monitor source of the output `sink`; none when there is no such output or it has no monitor.
    std::optional<std::string> monitorOf(const std::string& sink, std::chrono::milliseconds timeout);

    // The server's text for the connection's last error.
    std::string lastError() const { return pa_strerror(pa_context_errno(context_.get())); }

private:
    PulseConnection() = default;

    std::unique_ptr<pa_threaded_mainloop, PulseLoopDeleter> loop_;
    std::unique_ptr<pa_context, PulseContextDeleter> context_;
};

}  // namespace orvan
