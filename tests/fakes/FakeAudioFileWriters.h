#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioFileWriter.h"

namespace orvan::testing {

namespace fs = std::filesystem;

// Everything written, per block and per channel, and the file's life: created, closed.
class FakeWriters final : public AudioFileWriters {
public:
    struct Block {
        std::vector<float> system;
        std::vector<float> mic;
    };

    class Writer final : public AudioFileWriting {
    public:
        Writer(FakeWriters& owner, fs::path file) : owner_(owner), file_(std::move(file)) {
            std::ofstream(file_) << "partial";
        }
        std::optional<std::string> write(const float* const* channels, std::size_t frames) override {
            owner_.gate();
            std::lock_guard lock(owner_.mutex);
            owner_.blocks.push_back(Block{{channels[0], channels[0] + frames}, {channels[1], channels[1] + frames}});
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
        fs::path file_;
    };

    std::variant<std::unique_ptr<AudioFileWriting>, std::string> create(const fs::path& file,
                                                                        const AudioFileSettings&) override {
        std::lock_guard lock(mutex);
        created.push_back(file);
        if (createFailure) return *createFailure;
        return std::unique_ptr<AudioFileWriting>(std::make_unique<Writer>(*this, file));
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

    std::vector<float> channel(int index) const {
        std::vector<float> all;
        for (const auto& block : blocks) {
            const auto& samples = index == 0 ? block.system : block.mic;
            all.insert(all.end(), samples.begin(), samples.end());
        }
        return all;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<fs::path> created;
    std::vector<Block> blocks;
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

}  // namespace orvan::testing
