#include "linux/pulse/PulseConnection.h"

namespace orvan {

namespace {

constexpr const char* kApplicationName = "OrvanOffice";
constexpr const char* kApplicationId = "jp.tomoriva.OrvanOffice";

pa_usec_t microseconds(std::chrono::milliseconds duration) {
    return static_cast<pa_usec_t>(std::chrono::duration_cast<std::chrono::microseconds>(duration).count());
}

}  // namespace

void PulseStreamDeleter::operator()(pa_stream* stream) const {
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream, nullptr, nullptr);
    pa_stream_set_moved_callback(stream, nullptr, nullptr);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING) pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

std::variant<std::unique_ptr<PulseConnection>, std::string> PulseConnection::open(std::chrono::milliseconds timeout) {
    std::unique_ptr<PulseConnection> connection(new PulseConnection());
    connection->loop_.reset(pa_threaded_mainloop_new());
    if (!connection->loop_) return std::string("cannot create the sound server connection's loop");
    pa_threaded_mainloop_set_name(connection->loop_.get(), "orvan-pulse");

    std::unique_ptr<pa_proplist, PulsePropertiesDeleter> properties(pa_proplist_new());
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, kApplicationName);
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ID, kApplicationId);
    connection->context_.reset(
        pa_context_new_with_proplist(connection->api(), kApplicationName, properties.get()));
    if (!connection->context_) return std::string("cannot create the sound server connection");

    pa_threaded_mainloop* loop = connection->loop_.get();
    pa_context_set_state_callback(
        connection->context_.get(), [](pa_context*, void* userdata) { wake(static_cast<pa_threaded_mainloop*>(userdata)); },
        loop);
    if (pa_threaded_mainloop_start(loop) < 0) return std::string("cannot start the sound server connection's loop");

    Lock lock(*connection);
    pa_context* context = connection->context_.get();
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return connection->lastError();
    const bool settled = connection->waitFor(
        [context] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeout);
    if (!settled) return std::string(pa_strerror(PA_ERR_TIMEOUT));
    if (pa_context_get_state(context) != PA_CONTEXT_READY) return connection->lastError();
    return connection;
}

PulseConnection::~PulseConnection() {
    // The loop first: once its thread has ended, the context can go without the lock.
    if (loop_) pa_threaded_mainloop_stop(loop_.get());
    context_.reset();
    loop_.reset();
}

bool PulseConnection::waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    if (done()) return true;
    struct Deadline {
        pa_threaded_mainloop* loop = nullptr;
        bool passed = false;
    } deadline;
    deadline.loop = loop_.get();
    PulseTimer timer = after(
        timeout,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            auto* reached = static_cast<Deadline*>(userdata);
            reached->passed = true;
            wake(reached->loop);
        },
        &deadline);
    while (!done() && !deadline.passed) pa_threaded_mainloop_wait(loop_.get());
    return done();
}

PulseTimer PulseConnection::after(std::chrono::milliseconds delay, pa_time_event_cb_t fire, void* userdata) {
    return PulseTimer(api(), pa_context_rttime_new(context_.get(), pa_rtclock_now() + microseconds(delay), fire, userdata));
}

std::variant<PulseConnection::Defaults, std::string> PulseConnection::defaults(std::chrono::milliseconds timeout) {
    struct Query {
        pa_threaded_mainloop* loop = nullptr;
        bool done = false;
        Defaults defaults;
    } query;
    query.loop = loop_.get();
    PulseOperationPtr serverInfo(pa_context_get_server_info(
        context_.get(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* q = static_cast<Query*>(userdata);
            if (info != nullptr && info->default_sink_name != nullptr) q->defaults.sink = info->default_sink_name;
            if (info != nullptr && info->default_source_name != nullptr) q->defaults.source = info->default_source_name;
            q->done = true;
            wake(q->loop);
        },
        &query));
    if (!serverInfo) return lastError();
    if (!waitFor([&] { return query.done; }, timeout)) return std::string(pa_strerror(PA_ERR_TIMEOUT));
    return query.defaults;
}

std::variant<PulseConnection::Source, std::string> PulseConnection::defaultSource(std::chrono::milliseconds timeout) {
    auto found = defaults(timeout);
    if (const auto* error = std::get_if<std::string>(&found)) return *error;
    const std::string name = std::get<Defaults>(found).source;
    if (name.empty()) return std::string(pa_strerror(PA_ERR_NOENTITY));

    struct Query {
        pa_threaded_mainloop* loop = nullptr;
        bool done = false;
        std::optional<Source> source;
    } query;
    query.loop = loop_.get();
    PulseOperationPtr sourceInfo(pa_context_get_source_info_by_name(
        context_.get(), name.c_str(),
        [](pa_context*, const pa_source_info* info, int end, void* userdata) {
            auto* q = static_cast<Query*>(userdata);
            if (end == 0 && info != nullptr) {
                q->source = Source{info->name, info->monitor_of_sink != PA_INVALID_INDEX, info->mute != 0, info->state};
            } else {
                q->done = true;
                wake(q->loop);
            }
        },
        &query));
    if (!sourceInfo) return lastError();
    if (!waitFor([&] { return query.done; }, timeout)) return std::string(pa_strerror(PA_ERR_TIMEOUT));
    if (!query.source) return std::string(pa_strerror(PA_ERR_NOENTITY));
    return *query.source;
}

std::optional<std::string> PulseConnection::monitorOf(const std::string& sink, std::chrono::milliseconds timeout) {
    struct Query {
        pa_threaded_mainloop* loop = nullptr;
        bool done = false;
        std::string monitor;
    } query;
    query.loop = loop_.get();
    PulseOperationPtr sinkInfo(pa_context_get_sink_info_by_name(
        context_.get(), sink.c_str(),
        [](pa_context*, const pa_sink_info* info, int end, void* userdata) {
            auto* q = static_cast<Query*>(userdata);
            if (end == 0 && info != nullptr) {
                if (info->monitor_source_name != nullptr) q->monitor = info->monitor_source_name;
            } else {
                q->done = true;
                wake(q->loop);
            }
        },
        &query));
    if (!sinkInfo || !waitFor([&] { return query.done; }, timeout) || query.monitor.empty()) return std::nullopt;
    return query.monitor;
}

PulseOperationPtr askWhetherMuted(pa_context* context, const std::string& source, RecordingSignals& signals) {
    return PulseOperationPtr(pa_context_get_source_info_by_name(
        context, source.c_str(),
        [](pa_context*, const pa_source_info* info, int end, void* userdata) {
            if (end != 0 || info == nullptr) return;
            static_cast<RecordingSignals*>(userdata)->setMicrophoneMuted(info->mute != 0);
        },
        &signals));
}

}  // namespace orvan
