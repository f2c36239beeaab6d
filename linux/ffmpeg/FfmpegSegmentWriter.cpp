#include "linux/ffmpeg/FfmpegSegmentWriter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/SystemLog.h"

namespace orvan {

using namespace ffmpeg;

namespace {

// Fragments of about one second, flushed as written: what a crash can lose.
constexpr const char* kMovFlags = "empty_moov+default_base_moof+delay_moov";
constexpr const char* kFragmentMicroseconds = "1000000";

}  // namespace

std::variant<std::unique_ptr<FfmpegSegmentWriter>, std::string> FfmpegSegmentWriter::create(
    const std::filesystem::path& file, const Format& format) {
    quietLogging();
    std::unique_ptr<FfmpegSegmentWriter> writer(new FfmpegSegmentWriter(file, format));
    if (auto error = writer->open()) return *error;
    return writer;
}

FfmpegSegmentWriter::FfmpegSegmentWriter(std::filesystem::path file, const Format& format)
    : file_(std::move(file)), format_(format) {}

FfmpegSegmentWriter::~FfmpegSegmentWriter() { (void)finish(); }

std::optional<std::string> FfmpegSegmentWriter::open() {
    if (auto error = ffmpeg::openAacOutput(file_.string(), format_.sampleRate, format_.channels, format_.bitRate,
                                           aac_)) {
        return error;
    }
    int status = 0;

    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_) return errorText(AVERROR(ENOMEM));

    Dictionary options;
    options.set("movflags", kMovFlags);
    options.set("frag_duration", kFragmentMicroseconds);
    options.set("flush_packets", "1");
    // Lengths in samples, not in the default milliseconds.
    options.set("movie_timescale", std::to_string(format_.sampleRate).c_str());
    status = avformat_write_header(aac_.output.get(), &options.value);
    if (status < 0) return errorText(status);
    headerWritten_ = true;
    return std::nullopt;
}

void FfmpegSegmentWriter::fail(const std::string& what, int code) {
    if (error_) return;
    error_ = errorText(code);
    systemLog("MeetingRecorder: " + what + " " + file_.filename().string() + ": " + *error_);
}

void FfmpegSegmentWriter::leadIn(const float* samples, std::size_t frames) {
    if (finished_ || error_ || !headerWritten_ || appended_ != 0 || encoded_ != 0 || !waiting_.empty()) return;
    const auto channels = static_cast<std::size_t>(format_.channels);
    waiting_.assign(samples, samples + frames * channels);
    // Encoded from a negative time: the edit list that readers honour starts the audio after it.
    encoded_ = -static_cast<std::int64_t>(frames);
}

void FfmpegSegmentWriter::append(const float* samples, std::size_t frames) {
    if (finished_ || error_ || !headerWritten_ || frames == 0) return;
    const auto channels = static_cast<std::size_t>(format_.channels);
    waiting_.insert(waiting_.end(), samples, samples + frames * channels);
    appended_ += static_cast<std::int64_t>(frames);
    (void)encodeWaiting(false);
}

std::vector<float> FfmpegSegmentWriter::takeUnencoded() {
    if (finished_ || error_) return {};
    const auto channels = static_cast<std::size_t>(format_.channels);
    const std::size_t frames = std::min<std::size_t>(waiting_.size() / channels, static_cast<std::size_t>(appended_));
    std::vector<float> taken(waiting_.end() - static_cast<std::ptrdiff_t>(frames * channels), waiting_.end());
    waiting_.resize(waiting_.size() - taken.size());
    appended_ -= static_cast<std::int64_t>(frames);
    return taken;
}

bool FfmpegSegmentWriter::encodeWaiting(bool all) {
    const auto channels = static_cast<std::size_t>(format_.channels);
    const auto frameSize = static_cast<std::size_t>(aac_.encoder->frame_size);
    std::size_t used = 0;
    while (!error_) {
        const std::size_t available = (waiting_.size() - used) / channels;
        const std::size_t count = std::min(available, frameSize);
        if (count == 0 || (count < frameSize && !all)) break;
        frame_->nb_samples = static_cast<int>(count);
        frame_->format = aac_.encoder->sample_fmt;
        frame_->sample_rate = aac_.encoder->sample_rate;
        av_channel_layout_copy(&frame_->ch_layout, &aac_.encoder->ch_layout);
        int status = av_frame_get_buffer(frame_.get(), 0);
        if (status < 0) {
            fail("encoding failed for", status);
            break;
        }
        // The encoder takes one plane per channel.
        for (std::size_t c = 0; c < channels; ++c) {
            auto* plane = reinterpret_cast<float*>(frame_->data[c]);
            for (std::size_t i = 0; i < count; ++i) plane[i] = waiting_[used + i * channels + c];
        }
        frame_->pts = encoded_;
        encoded_ += static_cast<std::int64_t>(count);
        used += count * channels;
        status = avcodec_send_frame(aac_.encoder.get(), frame_.get());
        av_frame_unref(frame_.get());
        if (status < 0) {
            fail("encoding failed for", status);
            break;
        }
        if (!drainPackets()) break;
    }
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(used));
    return !error_;
}

bool FfmpegSegmentWriter::drainPackets() {
    for (;;) {
        const int status = avcodec_receive_packet(aac_.encoder.get(), packet_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
        if (status < 0) {
            fail("encoding failed for", status);
            return false;
        }
        av_packet_rescale_ts(packet_.get(), aac_.encoder->time_base, aac_.stream->time_base);
        packet_->stream_index = aac_.stream->index;
        const int written = av_interleaved_write_frame(aac_.output.get(), packet_.get());
        if (written < 0) {
            fail("could not write", written);
            return false;
        }
    }
}

std::optional<std::string> FfmpegSegmentWriter::finish() {
    if (finished_) return std::nullopt;
    finished_ = true;
    // A writer that never opened has nothing to end; its file is closed with it.
    if (!headerWritten_) return error_;
    if (!error_ && encodeWaiting(true)) {
        const int status = avcodec_send_frame(aac_.encoder.get(), nullptr);
        if (status < 0) {
            fail("encoding failed for", status);
        } else {
            (void)drainPackets();
        }
    }
    // The trailer is written even after an error: the fragments before it stay readable.
    const int status = av_write_trailer(aac_.output.get());
    if (status < 0) fail("could not finish", status);
    if (aac_.output->pb != nullptr) {
        const int closed = avio_closep(&aac_.output->pb);
        if (closed < 0) fail("could not close", closed);
    }
    return error_;
}

}  // namespace orvan
