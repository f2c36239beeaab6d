#include "platform/linux/FfmpegObjects.h"

#include <mutex>

namespace orvan::ffmpeg {

void quietLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

InputPtr openInput(const std::string& path, std::string* error) {
    AVFormatContext* raw = nullptr;
    int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        if (error) *error = errorText(status);
        return nullptr;
    }
    InputPtr input(raw);
    status = avformat_find_stream_info(input.get(), nullptr);
    if (status < 0) {
        if (error) *error = errorText(status);
        return nullptr;
    }
    return input;
}

}  // namespace orvan::ffmpeg
