#include "linux/ffmpeg/AacPacketJoin.h"

#include <cstring>
#include <string>

#include "linux/ffmpeg/FfmpegObjects.h"
#include "linux/ffmpeg/Mp4EditList.h"

namespace orvan {

using namespace ffmpeg;

namespace {

using Refusal = std::string;

Refusal doesNotFit(std::string why) { return why; }
Refusal failed(int code) { return errorText(code); }

// The output: one stream of the first segment's parameters, packets written as they come.
class PacketOutput {
public:
    std::optional<Refusal> open(const std::filesystem::path& file, const AVCodecParameters& parameters, int rate) {
        AVFormatContext* raw = nullptr;
        int status = avformat_alloc_output_context2(&raw, nullptr, "ipod", file.c_str());
        if (status < 0 || raw == nullptr) return failed(status);
        output_.reset(raw);
        stream_ = avformat_new_stream(output_.get(), nullptr);
        if (stream_ == nullptr) return failed(AVERROR(ENOMEM));
        status = avcodec_parameters_copy(stream_->codecpar, &parameters);
        if (status < 0) return failed(status);
        stream_->codecpar->codec_tag = 0;
        stream_->time_base = AVRational{1, rate};
        status = openPrivateOutput(&output_->pb, file.string());
        if (status < 0) return failed(status);
        Dictionary options;
        // Times in samples, and an edit list to replace with one entry per segment at the end.
        options.set("movie_timescale", std::to_string(rate).c_str());
        options.set("use_editlist", "1");
        status = avformat_write_header(output_.get(), &options.value);
        if (status < 0) return failed(status);
        return std::nullopt;
    }

    std::optional<Refusal> write(AVPacket& packet, std::int64_t at, std::int64_t duration) {
        packet.stream_index = stream_->index;
        packet.pts = packet.dts = at;
        packet.duration = duration;
        packet.pos = -1;
        const int status = av_write_frame(output_.get(), &packet);
        if (status < 0) return failed(status);
        return std::nullopt;
    }

    std::optional<Refusal> finish() {
        int status = av_write_trailer(output_.get());
        if (status >= 0) status = avio_closep(&output_->pb);
        if (status < 0) return failed(status);
        return std::nullopt;
    }

private:
    OutputPtr output_;
    AVStream* stream_ = nullptr;
};

bool sameParameters(const AVCodecParameters& a, const AVCodecParameters& b) {
    return a.codec_id == b.codec_id && a.sample_rate == b.sample_rate &&
           a.ch_layout.nb_channels == b.ch_layout.nb_channels && a.extradata_size == b.extradata_size &&
           (a.extradata_size == 0 || std::memcmp(a.extradata, b.extradata, static_cast<std::size_t>(a.extradata_size)) == 0);
}

std::optional<Refusal> joinInto(const std::vector<AudioJoiner::Piece>& pieces, const std::filesystem::path& output,
                                int rate, std::vector<EditEntry>& edits) {
    PacketOutput out;
    std::optional<AVCodecParameters*> first;
    InputPtr firstInput;  // keeps the first segment's parameters alive
    std::int64_t written = 0;  // the output's media time so far
    struct Ending {
        std::int64_t frame = 1024;
        bool padded = false;  // its packets reach on to a whole packet after its audio
    };
    std::vector<Ending> ends;
    std::vector<std::int64_t> starts;  // where each segment's packets begin in the output
    PacketPtr packet(av_packet_alloc());
    if (!packet) return failed(AVERROR(ENOMEM));

    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const auto& piece = pieces[k];
        std::string error;
        InputPtr input = openInput(piece.file.string(), &error);
        if (!input) return error;
        const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (index < 0) return failed(index);
        const AVStream& stream = *input->streams[index];
        const AVCodecParameters& parameters = *stream.codecpar;
        if (parameters.codec_id != AV_CODEC_ID_AAC || parameters.sample_rate != rate) {
            return doesNotFit(piece.file.filename().string() + " is not AAC at the output's rate");
        }
        if (!first) {
            if (auto failure = out.open(output, parameters, rate)) return failure;
        } else if (!sameParameters(**first, parameters)) {
            return doesNotFit(piece.file.filename().string() + " comes from another encoder");
        }
        const std::int64_t frame = parameters.frame_size > 0 ? parameters.frame_size : 1024;
        const std::int64_t duration =
            av_rescale_q(piece.duration.value, AVRational{1, piece.duration.timescale}, AVRational{1, rate});
        if (duration <= 0) return doesNotFit(piece.file.filename().string() + " has no audio");

        std::optional<std::int64_t> firstPts;
        std::int64_t packets = 0;
        const std::int64_t begin = written;
        starts.push_back(begin);
        for (;;) {
            const int status = av_read_frame(input.get(), packet.get());
            if (status == AVERROR_EOF) break;
            if (status < 0) return failed(status);
            if (packet->stream_index != index) {
                av_packet_unref(packet.get());
                continue;
            }
            const std::int64_t pts =
                packet->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(packet->pts, stream.time_base, AVRational{1, rate});
            if (!firstPts) firstPts = pts;
            // Packets one frame apart, none missing: the decoder sees exactly what the encoder made.
            if (pts == AV_NOPTS_VALUE || pts != *firstPts + packets * frame || (packet->flags & AV_PKT_FLAG_DISCARD)) {
                av_packet_unref(packet.get());
                return doesNotFit(piece.file.filename().string() + " has a hole in its packets");
            }
            auto failure = out.write(*packet, written, frame);
            av_packet_unref(packet.get());
            if (failure) return failure;
            written += frame;
            ++packets;
        }
        // Before a segment's own audio: its lead-in and the encoder's priming. Between segments a
        // reader can only leave out whole packets, and at least one, which takes the jump from the
        // previous segment's end.
        const std::int64_t skip = firstPts ? -*firstPts : 0;
        if (skip < 0 || (k > 0 && (skip < frame || skip % frame != 0))) {
            return doesNotFit(piece.file.filename().string() + " does not start on a whole packet");
        }
        if (skip + duration > packets * frame) return doesNotFit(piece.file.filename().string() + " is shorter than said");
        ends.push_back(Ending{frame, skip + (duration + frame - 1) / frame * frame <= packets * frame});
        edits.push_back(EditEntry{begin + skip, duration});
        if (!first) {
            firstInput = std::move(input);
            first = firstInput->streams[index]->codecpar;
        }
    }
    if (!first) return doesNotFit("nothing to join");
    // Between entries a reader can only leave out whole packets, so a segment followed by another
    // has to end on a packet's end. One that continues into the next (the next has a lead-in) and
    // does not is refused; before a cut (a pause: the next segment starts from silence) it plays
    // on to its last packet's end, under one packet of the encoder's silence.
    for (std::size_t k = 0; k + 1 < edits.size(); ++k) {
        const std::int64_t frame = ends[k].frame;
        if (edits[k].duration % frame == 0) continue;
        const bool cut = edits[k + 1].mediaTime - starts[k + 1] == frame;
        if (!cut || !ends[k].padded) {
            return doesNotFit(pieces[k].file.filename().string() + " does not end on a whole packet");
        }
        edits[k].duration = (edits[k].duration + frame - 1) / frame * frame;
    }
    if (auto failure = out.finish()) return failure;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> AacPacketJoin::join(const std::vector<AudioJoiner::Piece>& pieces,
                                           const std::filesystem::path& output, int sampleRate) {
    quietLogging();
    std::vector<EditEntry> edits;
    auto refusal = joinInto(pieces, output, sampleRate, edits);
    if (!refusal) {
        refusal = rewriteEditList(output, edits);
    }
    if (refusal) {
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
    }
    return refusal;
}

}  // namespace orvan
