#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recording/SystemAudioCapture.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeCaptureParts.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/ManualClock.h"
#include "tests/support/StopAndWait.h"
#include "tests/support/TempDirectory.h"

namespace orvan::testing {

namespace fs = std::filesystem;

constexpr CaptureFormat kMono16k{.sampleRate = 16000, .channels = 1, .kind = SampleKind::float32};
constexpr CaptureFormat kStereo48k{.sampleRate = 48000, .channels = 2, .kind = SampleKind::float32};

// A capture into a fresh session directory on a clock moved by hand, converters that only count (at
// 16 kHz mono they pass everything through) and writers that keep what they are handed.
class SystemAudioCaptureFixture : public ::testing::Test {
protected:
    SystemAudioCaptureFixture() {
        log = CapturingLogSink::install();
        fs::create_directories(dir());
        auto created = SystemAudioCapture::create(dir(), ports());
        if (auto* error = std::get_if<SystemError>(&created)) throw std::runtime_error(error->description);
        capture = std::get<std::shared_ptr<SystemAudioCapture>>(created);
    }

    SystemAudioCapturePorts ports() {
        return SystemAudioCapturePorts{.applicationIdentifier = "jp.tomoriva.OrvanOffice",
                                       .clock = clock,
                                       .converters = converters,
                                       .writers = writers,
                                       .notifications = notifications,
                                       .echoCancellers = echo};
    }
    fs::path dir() const { return temp.path() / "session"; }
    std::vector<float> system() const { return readTrack(dir() / "system.f32"); }
    std::vector<float> mic() const { return readTrack(dir() / "mic.f32"); }

    // `frames` samples of `value` at time `t`, through the capture's queue as the stream delivers them.
    void deliver(CaptureOutputType type, std::optional<double> t, float value, std::size_t frames = 160,
                 std::optional<CaptureFormat> format = kMono16k, bool valid = true) {
        const std::size_t channels = format ? static_cast<std::size_t>(format->channels) : 1;
        deliver(type, t, std::vector<float>(frames * channels, value), format, valid);
    }
    void deliver(CaptureOutputType type, std::optional<double> t, const std::vector<float>& samples,
                 std::optional<CaptureFormat> format = kMono16k, bool valid = true) {
        const std::size_t channels = format ? static_cast<std::size_t>(format->channels) : 1;
        CapturedBuffer buffer{.type = type,
                              .valid = valid,
                              .presentationTime = t,
                              .format = format,
                              .samples = samples.data(),
                              .frames = samples.size() / channels};
        capture->queue().sync([&] { capture->handle(buffer); });
    }
    // Where in a track the value first appears, in frames; -1 when nowhere.
    static long firstAt(const std::vector<float>& track, float value) {
        for (std::size_t i = 0; i < track.size(); ++i) {
            if (track[i] == value) return static_cast<long>(i);
        }
        return -1;
    }

    TempDirectory temp{"orvan-capture"};
    std::shared_ptr<CapturingLogSink> log;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<CountingConverters> converters = std::make_shared<CountingConverters>();
    std::shared_ptr<FakeWriters> writers = std::make_shared<FakeWriters>();
    std::shared_ptr<FakeEchoCancellers> echo = std::make_shared<FakeEchoCancellers>();
    std::shared_ptr<FakeMainLoop> mainLoop = std::make_shared<FakeMainLoop>();
    std::shared_ptr<NotificationCenter> notifications = NotificationCenter::create(*mainLoop);
    std::shared_ptr<SystemAudioCapture> capture;
};

}  // namespace orvan::testing
