#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace orvan {

// What the finished file is encoded as.
struct AudioFileSettings {
    int sampleRate = 16000;
    int channels = 2;
    int bitRate = 64000;  // AAC in MPEG-4
};

// One audio file being written from planar 32-bit float blocks. Errors are the system's own text.
class AudioFileWriting {
public:
    virtual ~AudioFileWriting() = default;
    // `channels` holds one pointer per channel, each to `frames` samples.
    virtual std::optional<std::string> write(const float* const* channels, std::size_t frames) = 0;
    // Encodes what is left and closes the file; a writer dropped without it leaves an unfinished file.
    virtual std::optional<std::string> close() = 0;
};

class AudioFileWriters {
public:
    virtual ~AudioFileWriters() = default;
    virtual std::variant<std::unique_ptr<AudioFileWriting>, std::string> create(const std::filesystem::path& file,
                                                                                const AudioFileSettings& settings) = 0;
};

}  // namespace orvan
