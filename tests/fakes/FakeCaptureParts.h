#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioCapture.h"
#include "platform/AudioFileWriter.h"
#include "platform/EchoCanceller.h"

namespace orvan::testing {

namespace fs = std::filesystem;

// Keeps every `channels`·`rate / 16000`-th sample: enough of a conversion to see which samples arrive
// where (at 16 kHz mono it passes everything through), and notes which converter ran with what headroom.
class CountingConverters final : public AudioConverters {
public:
    struct Call {
        int converter;
        std::size_t capacity;
    };
    class Converter final : public AudioConverting {
    public:
        Converter(CountingConverters& owner, int id, CaptureFormat input) : owner_(owner), id_(id), input_(input) {}
        std::optional<std::vector<float>> convert(const void* samples, std::size_t frames, std::size_t capacity) override {
            owner_.calls.push_back({id_, capacity});
            if (owner_.failing) return std::nullopt;
            const auto* in = static_cast<const float*>(samples);
            const auto step = static_cast<std::size_t>(input_.sampleRate / 16000 * input_.channels);
            std::vector<float> out;
            for (std::size_t i = 0; i * step < frames * static_cast<std::size_t>(input_.channels); ++i) {
                out.push_back(in[i * step]);
            }
            return out;
        }

    private:
        CountingConverters& owner_;
        int id_;
        CaptureFormat input_;
    };

    std::unique_ptr<AudioConverting> make(const CaptureFormat& input) override {
        made.push_back(input);
        return std::make_unique<Converter>(*this, static_cast<int>(made.size()), input);
    }

    std::vector<CaptureFormat> made;
    std::vector<Call> calls;
    bool failing = false;
};

class FakeStream final : public CaptureStream {
public:
    ~FakeStream() override {
        if (onDestroyed) onDestroyed();
    }
    void settle() override {
        ++settles;
        if (onSettle) onSettle();
    }
    void stop(std::function<void()> done) override {
        ++stops;
        done();
    }
    int stops = 0;
    int settles = 0;
    std::function<void()> onSettle;
    std::function<void()> onDestroyed;
};

// What the newest file was handed, per channel and per block, and the files' life: created, closed.
class FakeWriters final : public AudioFileWriters {
public:
    class Writer final : public AudioFileWriting {
    public:
        explicit Writer(FakeWriters& owner) : owner_(owner) {}
        std::optional<std::string> write(const float* const* channels, std::size_t frames) override {
            owner_.gate();
            std::lock_guard lock(owner_.mutex);
            owner_.system.insert(owner_.system.end(), channels[0], channels[0] + frames);
            owner_.mic.insert(owner_.mic.end(), channels[1], channels[1] + frames);
            owner_.blocks.push_back(frames);
            if (owner_.failWriteAt && owner_.blocks.size() == *owner_.failWriteAt) return std::string("書き込めません");
            return std::nullopt;
        }
        std::optional<std::string> close() override {
            std::lock_guard lock(owner_.mutex);
            ++owner_.closed;
            return std::nullopt;
        }

    private:
        FakeWriters& owner_;
    };

    std::variant<std::unique_ptr<AudioFileWriting>, std::string> create(const fs::path& file,
                                                                        const AudioFileSettings&) override {
        std::lock_guard lock(mutex);
        created.push_back(file);
        if (createFailure) return *createFailure;
        std::ofstream(file) << "partial";
        system.clear();
        mic.clear();
        blocks.clear();
        return std::unique_ptr<AudioFileWriting>(std::make_unique<Writer>(*this));
    }

    // Holds writes until `open()`; lets a test keep a mix-down in the middle of its encode.
    void holdWrites() {
        std::lock_guard lock(mutex);
        holding = true;
    }
    void open() {
        {
            std::lock_guard lock(mutex);
            holding = false;
        }
        changed.notify_all();
    }
    bool waitUntilHeld(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return waiting > 0; });
    }
    std::size_t frames() {
        std::lock_guard lock(mutex);
        return system.size();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<fs::path> created;
    std::vector<float> system;
    std::vector<float> mic;
    std::vector<std::size_t> blocks;  // frames per write
    int closed = 0;
    int waiting = 0;
    bool holding = false;
    std::optional<std::string> createFailure;
    std::optional<std::size_t> failWriteAt;  // 1-based block that fails

private:
    void gate() {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [&] { return !holding; });
        --waiting;
    }
};

// Takes out an echo that is the played sound itself, answering `kLatency` samples late as a real
// canceller does (so its memory must last from frame to frame); counts the frames it is shown.
struct FakeEchoCancellers final : EchoCancellers {
    static constexpr std::size_t kLatency = 40;
    struct Canceller final : EchoCancelling {
        explicit Canceller(std::size_t& count) : frames(count) {}
        bool process(const float* played, float* heard) override {
            ++frames;
            for (std::size_t i = 0; i < kFrameSamples; ++i) history.push_back(heard[i] - played[i]);
            for (std::size_t i = 0; i < kFrameSamples; ++i) heard[i] = history[history.size() - kFrameSamples - kLatency + i];
            return true;
        }
        std::size_t latency() const override { return kLatency; }
        std::size_t& frames;
        std::vector<float> history = std::vector<float>(kLatency);  // what came before: silence
    };
    std::unique_ptr<EchoCancelling> make() override { return std::make_unique<Canceller>(frames); }
    std::size_t frames = 0;
};

}  // namespace orvan::testing
