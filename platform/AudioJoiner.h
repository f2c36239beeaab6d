#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvan {

// A length of media time: value / timescale seconds.
struct MediaTime {
    std::int64_t value = 0;
    std::int32_t timescale = 1;

    bool isPositive() const { return value > 0 && timescale > 0; }
    double seconds() const { return timescale > 0 ? static_cast<double>(value) / timescale : 0.0; }
    friend MediaTime operator+(MediaTime a, MediaTime b);
    friend bool operator==(const MediaTime&, const MediaTime&) = default;
};

inline MediaTime operator+(MediaTime a, MediaTime b) {
    if (a.timescale == b.timescale) return MediaTime{a.value + b.value, a.timescale};
    // Both in the finer timescale; recorded audio uses one sample rate, so this is rare.
    const std::int32_t scale = a.timescale > b.timescale ? a.timescale : b.timescale;
    const auto rescale = [scale](MediaTime t) { return t.value * scale / t.timescale; };
    return MediaTime{rescale(a) + rescale(b), scale};
}

// Reads audio files and joins them, each trimmed to its own audio, into one AAC file in MPEG-4.
// Blocking; called off the main loop and off the recorder's queue.
class AudioJoiner {
public:
    struct Piece {
        std::filesystem::path file;
        MediaTime duration;  // how much of the file's audio, from its start
    };

    struct Failure {
        enum class Kind {
            noTrack,          // the output cannot have an audio track
            noExportSession,  // the output cannot be prepared
            failed,           // reading, encoding or writing failed; `message` is the system's
        };
        Kind kind = Kind::failed;
        std::string message;
    };

    virtual ~AudioJoiner() = default;
    // The duration of the file's audio (encoder priming and padding excluded); nullopt when the file
    // cannot be opened, has no audio track, or its duration cannot be read.
    virtual std::optional<MediaTime> audioDuration(const std::filesystem::path& file) = 0;
    // Writes the pieces back to back, without gaps, into `output`.
    virtual std::optional<Failure> join(const std::vector<Piece>& pieces, const std::filesystem::path& output) = 0;
};

}  // namespace orvan
