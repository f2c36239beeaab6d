// System audio and microphone captured from the private sound server into one two-channel file:
// what the default sink plays on the first channel, what the microphone hears on the second.
#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "linux/webrtc/WebRtcEchoCancellers.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/sound/PrivateSoundServer.h"
#include "tests/sound/SoundServer.h"
#include "tests/sound/ToneSource.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/StopAndWait.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

constexpr int kRate = 16000;
constexpr std::size_t kWindow = 400;  // whole periods of 440 Hz and 880 Hz

// Keeps the main loop's notifications flowing while time passes.
void waitWhileRunning(FakeMainLoop& loop, std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
        loop.runUntilIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    loop.runUntilIdle();
}

class SystemAudioSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SoundServer::available()) << "no sound server: run the tests through tools/test-env.sh";
        fs::create_directories(dir());
    }

    fs::path dir() const { return temp.path() / "session"; }

    std::shared_ptr<SystemAudioCapturing> start(SystemAudio* capturing = nullptr) {
        std::promise<SystemAudio::Started> started;
        auto& audio = capturing ? *capturing : systemAudio;
        audio.start(dir(), [&](SystemAudio::Started answer) { started.set_value(std::move(answer)); });
        auto answer = started.get_future().get();
        if (const auto* failure = std::get_if<RecordingFailure>(&answer)) {
            ADD_FAILURE() << "capture did not start: " << failure->description();
            return nullptr;
        }
        return std::get<std::shared_ptr<SystemAudioCapturing>>(answer);
    }

    // Stops the capture and decodes both channels of the finished file: system audio, microphone.
    static std::optional<std::pair<DecodedAudio, DecodedAudio>> finish(SystemAudioCapturing& capture) {
        const auto stopped = stopAndWait(capture);
        if (const auto* failure = std::get_if<RecordingFailure>(&stopped)) {
            ADD_FAILURE() << "not finished: " << failure->description();
            return std::nullopt;
        }
        std::string error;
        auto system = decodeAudio(std::get<fs::path>(stopped), &error, 0);
        auto mic = decodeAudio(std::get<fs::path>(stopped), &error, 1);
        if (!system || !mic) {
            ADD_FAILURE() << error;
            return std::nullopt;
        }
        return std::pair{std::move(*system), std::move(*mic)};
    }

    // Starts capturing while the system plays 880 Hz and the microphone hears 440 Hz (both until the
    // test ends) and lets it run past the streams' first seconds.
    std::shared_ptr<SystemAudioCapturing> startWithBothTonesSettled() {
        systemTone.emplace("module-sine sink=spk frequency=880");
        micTone.emplace(440);
        auto capture = start();
        if (capture) waitWhileRunning(*mainLoop, std::chrono::milliseconds(3500));
        return capture;
    }

    TempDirectory temp{"orvan-system-audio"};
    std::optional<SoundServer::Module> systemTone;
    std::optional<SoundServer::Tone> micTone;
    std::shared_ptr<FakeMainLoop> mainLoop = std::make_shared<FakeMainLoop>();
    std::shared_ptr<NotificationCenter> notifications = NotificationCenter::create(*mainLoop);
    // The descriptions of every officeCaptureFailed posted.
    std::vector<std::string> posted;
    ObserverToken failures = notifications->addObserver("officeCaptureFailed", [this](const Notification& notification) {
        posted.push_back(std::any_cast<std::string>(notification.object));
    });
    SystemAudioCapturePorts ports(std::shared_ptr<EchoCancellers> echo = nullptr) {
        return {.applicationIdentifier = "jp.tomoriva.OrvanOffice",
                .clock = std::make_shared<SteadyClock>(),
                .converters = std::make_shared<SwrAudioConverters>(),
                .writers = std::make_shared<FfmpegAudioFileWriters>(),
                .notifications = notifications,
                .echoCancellers = std::move(echo)};
    }
    PulseSystemAudio systemAudio{ports()};
};

// Where a click first rises above `threshold`, in samples from `from`; -1 when it never does.
long onset(const std::vector<float>& samples, std::size_t from, float threshold) {
    for (std::size_t i = from; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > threshold) return static_cast<long>(i);
    }
    return -1;
}

TEST_F(SystemAudioSoundTest, AClickHeardByBothStreamsLinesUpBetweenTheTracks) {
    // One sink that plays into the speakers and the microphone's sink at the same moment. The
    // microphone is that sink's monitor itself: the remapped "mic" adds a delay of its own (about
    // 45 ms here) that belongs to the test rig, not to the capture.
    SoundServer::Module both("module-combine-sink sink_name=both slaves=spk,micsink");
    struct DefaultSource {
        DefaultSource() { SoundServer::run("pactl set-default-source micsink.monitor"); }
        ~DefaultSource() { SoundServer::run("pactl set-default-source mic"); }
    } directMicrophone;
    // The click comes past the first seconds, where the capture's timing settles, and so does the
    // rig's: the combine sink fills its two outputs' queues on their own, one may start a block
    // (about 50 ms) ahead of the other, and its rate adjustment takes a few seconds to even them out.
    // So the sink plays silence from the capture's start on and the click later.
    const fs::path click = temp.path() / "click.f32";
    {
        std::vector<float> samples(kRate * 7 / 2, 0.0f);
        const auto burst = tone(1000, 0, kRate / 50, kRate, 0.8f);
        samples.insert(samples.end(), burst.begin(), burst.end());
        samples.resize(samples.size() + kRate / 2, 0.0f);
        std::string bytes(samples.size() * sizeof(float), '\0');
        std::memcpy(bytes.data(), samples.data(), bytes.size());
        writeFile(click, bytes);
    }
    auto capture = start();
    ASSERT_TRUE(capture);
    ASSERT_EQ(std::system(("pacat --playback --raw --format=float32le --rate=16000 --channels=1 -d both " +
                           click.string()).c_str()),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto channels = finish(*capture);
    ASSERT_TRUE(channels);
    const auto& [system, mic] = *channels;
    const long heardBySystem = onset(system.samples, 2 * kRate, 0.2f);
    const long heardByMic = onset(mic.samples, 2 * kRate, 0.2f);
    ASSERT_GE(heardBySystem, 0);
    ASSERT_GE(heardByMic, 0);
    const double offsetMs = 1000.0 * static_cast<double>(heardByMic - heardBySystem) / kRate;
    std::printf("click at %.3f s (system) and %.3f s (microphone): %.1f ms apart\n",
                static_cast<double>(heardBySystem) / kRate, static_cast<double>(heardByMic) / kRate, offsetMs);
    EXPECT_LT(std::abs(offsetMs), 10.0);
}

double secondsSince(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// The system's 880 Hz and the microphone's 440 Hz, each on its own channel and not on the other, in
// the last half second.
void expectBothTonesAtTheEnd(const std::optional<std::pair<DecodedAudio, DecodedAudio>>& channels) {
    ASSERT_TRUE(channels);
    const auto& [system, mic] = *channels;
    const std::size_t lastHalf = system.samples.size() - kRate / 2 - 800;
    EXPECT_GT(toneShare(system.samples, lastHalf, kRate / 2, 880, kRate), 0.9);
    EXPECT_GT(toneShare(mic.samples, lastHalf, kRate / 2, 440, kRate), 0.9);
    EXPECT_LT(toneShare(system.samples, lastHalf, kRate / 2, 440, kRate), 0.05);
    EXPECT_LT(toneShare(mic.samples, lastHalf, kRate / 2, 880, kRate), 0.05);
}

bool logged(const CapturingLogSink& log, const std::string& line) {
    const auto lines = log.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(SystemAudioSoundTest, AMicrophoneRemovedIsFollowedAndStreamsEndedByTheServerAreReconnected) {
    auto log = CapturingLogSink::install();
    auto capture = startWithBothTonesSettled();
    ASSERT_TRUE(capture);
    // What a device changing its profile under the same name looks like to the capture.
    const std::string ours = "pactl list short source-outputs | awk '$4 == \"protocol-native.c\" {print $1}'";
    const std::string indices = SoundServer::run(ours);
    ASSERT_EQ(std::count(indices.begin(), indices.end(), '\n'), 1) << "not just our two streams: " << indices;
    SoundServer::run(ours + " | xargs -r -n1 pacmd kill-source-output");
    waitWhileRunning(*mainLoop, std::chrono::milliseconds(4000));
    EXPECT_TRUE(logged(*log, "SystemAudioCapture reconnects the system audio to spk.monitor"));
    EXPECT_TRUE(logged(*log, "SystemAudioCapture reconnects the microphone to mic"));

    // Then the headset with the microphone is unplugged, and the user picks another microphone.
    const std::string remap = SoundServer::run("pactl list short modules | awk '/source_name=mic /{print $1}'");
    ASSERT_FALSE(remap.empty());
    struct Restore {
        ~Restore() {
            SoundServer::run("pactl load-module module-remap-source source_name=mic master=micsink.monitor "
                             "master_channel_map=mono channel_map=mono");
            SoundServer::run("pactl set-default-source mic");
        }
    } restore;
    SoundServer::run("pactl unload-module " + remap);
    SoundServer::run("pactl set-default-source micsink.monitor");
    waitWhileRunning(*mainLoop, std::chrono::milliseconds(3500));
    EXPECT_TRUE(logged(*log, "SystemAudioCapture follows the microphone to micsink.monitor"));
    EXPECT_TRUE(posted.empty()) << posted.front();

    expectBothTonesAtTheEnd(finish(*capture));
}

TEST_F(SystemAudioSoundTest, SwitchingTheDefaultOutputMovesTheCaptureAndTheTimelineRunsOn) {
    auto log = CapturingLogSink::install();
    SoundServer::Module headset("module-null-sink sink_name=headset rate=48000 channels=2");
    SoundServer::Module meeting("module-sine sink=spk frequency=880");
    SoundServer::Tone heard(440);
    struct Restore {
        ~Restore() { SoundServer::run("pactl set-default-sink spk"); }
    } restore;
    auto capture = start();
    ASSERT_TRUE(capture);
    waitWhileRunning(*mainLoop, std::chrono::milliseconds(5000));
    // The user plugs in a headset: the desktop makes it the default and moves the meeting's sound there.
    const auto switched = std::chrono::steady_clock::now();
    SoundServer::run("pactl set-default-sink headset");
    SoundServer::run("pactl list short sink-inputs | awk '$2 == " + meeting.index() +
                     " {print $1}' | xargs -r -I{} pactl move-sink-input {} headset");
    waitWhileRunning(*mainLoop, std::chrono::milliseconds(4500));
    const double afterSwitch = secondsSince(switched);
    EXPECT_TRUE(logged(*log, "SystemAudioCapture follows the system audio to headset.monitor"));
    EXPECT_TRUE(posted.empty()) << posted.front();

    const auto channels = finish(*capture);
    ASSERT_TRUE(channels);
    const auto& [system, mic] = *channels;
    const auto at = [](double seconds) { return static_cast<std::size_t>(seconds * kRate); };
    // Where the switch lies in the recording, counted back from its end.
    const double switchedIn = system.seconds() - afterSwitch;
    std::printf("switched %.3f s into %.3f s of recording\n", switchedIn, system.seconds());
    // The speakers until the switch.
    EXPECT_GT(toneShare(system.samples, at(switchedIn - 1.3), at(1.0), 880, kRate), 0.9);
    // The headset's monitor from when its stream delivers (a test sink's monitor takes up to two
    // seconds) to the very end, together with the microphone: the timeline ran on through the switch.
    const std::size_t lastHalf = system.samples.size() - at(0.5) - 800;
    EXPECT_GT(toneShare(system.samples, at(switchedIn + 2.5), lastHalf - at(switchedIn + 2.5), 880, kRate), 0.9);
    expectBothTonesAtTheEnd(channels);
}

TEST_F(SystemAudioSoundTest, APauseInTheFirstSecondsKeepsWhatCameBeforeAndDropsWhatWasHeardDuringIt) {
    std::optional<SoundServer::Tone> heard(440);
    auto capture = start();
    ASSERT_TRUE(capture);
    // Early: the streams deliver, but still wait for their time stamps to settle.
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    capture->pause();
    heard.reset();
    std::optional<SoundServer::Tone> duringThePause(660);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    duringThePause.reset();
    heard.emplace(440);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto resumed = std::chrono::steady_clock::now();
    capture->resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const double afterResume = secondsSince(resumed);
    const auto channels = finish(*capture);
    ASSERT_TRUE(channels);
    const auto& mic = channels->second;
    // What came before the pause is kept in front of what came after it.
    const double beforePause = mic.seconds() - afterResume;
    std::printf("%.3f s recorded: %.3f s before the pause\n", mic.seconds(), beforePause);
    ASSERT_GT(beforePause, 0.6);
    ASSERT_LT(beforePause, 3.1);
    // Clear of the join, which the streams' latency moves by a little.
    const double beforeJoin = std::max(0.1, beforePause - 0.9);
    EXPECT_GT(toneShare(mic.samples, static_cast<std::size_t>(beforeJoin * kRate), kRate * 2 / 5, 440, kRate), 0.9);
    EXPECT_GT(toneShare(mic.samples, mic.samples.size() - kRate, kRate / 2, 440, kRate), 0.9);
    // Nothing of the pause: the tone played only then never appears.
    for (std::size_t from = 0; from + 1600 <= mic.samples.size(); from += 800) {
        ASSERT_LT(toneShare(mic.samples, from, 1600, 660, kRate), 0.05) << "at " << static_cast<double>(from) / kRate;
    }
}

TEST_F(SystemAudioSoundTest, WhatTheSpeakersPlayIsTakenOutOfTheMicrophonesChannel) {
    // Speakers that the microphone hears 80 ms late. The meeting speaks (880 Hz), then the user (440 Hz).
    SoundServer::Module speakers("module-loopback source=spk.monitor sink=micsink latency_msec=80");
    PulseSystemAudio cancelling{ports(std::make_shared<WebRtcEchoCancellers>())};
    auto capture = start(&cancelling);
    ASSERT_TRUE(capture);
    systemTone.emplace("module-sine sink=spk frequency=880");
    std::this_thread::sleep_for(std::chrono::seconds(6));
    systemTone.reset();
    micTone.emplace(440);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto played = readTrack(dir() / "system.f32"), heard = readTrack(dir() / "mic.f32");  // raw: as they were
    const auto channels = finish(*capture);
    ASSERT_TRUE(channels);
    const auto ended = static_cast<std::size_t>(
        played.rend() - std::find_if(played.rbegin(), played.rend(), [](float s) { return std::abs(s) > 0.01f; }));
    ASSERT_LT(ended + kRate, std::min(heard.size(), channels->second.samples.size()));
    // Against the raw track over whole periods; the user while the canceller still runs.
    const auto dB = [&](std::size_t from, std::size_t count, double f) {
        return 20 * std::log10(std::abs(toneAt(channels->second.samples, from, count, f, kRate) / toneAt(heard, from, count, f, kRate)));
    };
    ASSERT_GT(std::abs(toneAt(heard, ended - 5 * kRate / 2, 2 * kRate, 880, kRate)), 0.05) << "no echo to take out";
    EXPECT_LT(dB(ended - 5 * kRate / 2, 2 * kRate, 880), -15.0);
    EXPECT_NEAR(dB(ended + 3 * kRate / 10, 3 * kRate / 5, 440), 0.0, 1.0);
}

TEST_F(SystemAudioSoundTest, AServerWithoutAnyOutputCannotStartTheCapture) {
    PrivateSoundServer server(temp.path() / "server", {"module-null-source source_name=only"});
    server.use();
    std::promise<SystemAudio::Started> started;
    systemAudio.start(dir(), [&](SystemAudio::Started answer) { started.set_value(std::move(answer)); });
    const auto answer = started.get_future().get();
    ASSERT_TRUE(std::holds_alternative<RecordingFailure>(answer));
    EXPECT_EQ(std::get<RecordingFailure>(answer).description(), "画面が見つかりません");
}

}  // namespace
}  // namespace orvan
