#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvan {

// What a capture stream delivers a buffer for.
enum class CaptureOutputType { screen, systemAudio, microphone };

enum class SampleKind { float32, int16 };

// The layout of one buffer's samples as the sound server hands them over.
struct CaptureFormat {
    int sampleRate = 16000;
    int channels = 1;
    SampleKind kind = SampleKind::float32;
    bool interleaved = true;

    friend bool operator==(const CaptureFormat&, const CaptureFormat&) = default;
};

// One buffer of a capture stream. Its samples are only borrowed for the call that hands it over.
struct CapturedBuffer {
    CaptureOutputType type = CaptureOutputType::systemAudio;
    bool valid = true;
    std::optional<double> presentationTime;  // seconds on the capture's one clock; none when not numeric
    std::optional<CaptureFormat> format;     // none: the buffer has no format description
    const void* samples = nullptr;
    std::size_t frames = 0;
};

// Converts buffers of one input format to 32-bit float, 16 000 Hz, mono.
class AudioConverting {
public:
    virtual ~AudioConverting() = default;
    // At most `capacity` frames; none on a conversion error.
    virtual std::optional<std::vector<float>> convert(const void* samples, std::size_t frames, std::size_t capacity) = 0;
};

class AudioConverters {
public:
    virtual ~AudioConverters() = default;
    // None when no converter can be made for that input.
    virtual std::unique_ptr<AudioConverting> make(const CaptureFormat& input) = 0;
};

// The running capture of both streams on the sound server.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Hands over at once every buffer read so far, before anything queued after this call; a stream
    // that still waits to place its first buffers on the timeline places them with what it knows.
    virtual void settle() {}
    // Ends both streams; `done` runs once, on any thread, after the last buffer was handed over.
    virtual void stop(std::function<void()> done) = 0;
};

}  // namespace orvan
