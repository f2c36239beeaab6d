#include "platform/SystemLog.h"

#include <mutex>
#include <utility>

namespace orvan {

namespace {
std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}
std::shared_ptr<LogSink>& currentSink() {
    static std::shared_ptr<LogSink> sink;
    return sink;
}
}  // namespace

void setLogSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(sink);
}

void systemLog(std::string_view line) {
    std::shared_ptr<LogSink> sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) sink->write(line);
}

}  // namespace orvan
