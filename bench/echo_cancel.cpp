// How well the microphone's channel is freed of the echo of what the computer played, on a
// conversation made for the purpose: two voices spoken by espeak-ng taking turns, now one, now the
// other, now both at once. The far voice reaches the microphone through a linear echo path (a delay,
// -6 dB, a short room response) with low noise added. Both tracks go through the capture as the sound
// server hands them over (50 ms buffers, faster than real time), the finished file is decoded and its
// microphone channel compared with the clean near voice:
//
//   erle_db           far voice alone: the echo's energy before against what is left of it after
//   near_end_loss_db  near voice alone: how far its level moved against the clean voice
//   double_talk_corr  both at once: correlation with the clean near voice
//   cpu_share         of one core, for the capture's whole work on both tracks (conversion, raw
//                     tracks, the file encoded as it goes, the canceller), per second of audio
//
// The rig runs at echo delays of 40, 95 and 150 ms, and once without the canceller as the reference;
// the four lines printed last are the worst over the delays.
//
//   build/bench/echo_cancel [--delays 40,95,150]

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/NotificationCenter.h"
#include "bench/BenchSupport.h"
#include "linux/ffmpeg/FfmpegAudioFileWriter.h"
#include "linux/pulse/PulseSystemAudio.h"
#include "linux/webrtc/WebRtcEchoCancellers.h"
#include "recording/SystemAudioCapture.h"
#include "tests/support/AudioCheck.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using namespace orvan;

constexpr int kRate = 16000;
constexpr std::size_t kBuffer = 800;  // 50 ms

const char* const kNear[] = {
    "The quarterly numbers look good, and I think we can send the proposal by Friday.",
    "Let me check the calendar. Tuesday afternoon would work for our team.",
    "We changed the delivery schedule last month, so the second batch arrives in April.",
    "I agree. The contract should mention the support period and the price for extra licences.",
    "Could you share the slides after the meeting? I would like to show them to my manager.",
};
const char* const kFar[] = {
    "Thanks everyone for joining. Let me share my screen and walk you through the results.",
    "As you can see, sales in the northern region went up by twelve percent this quarter.",
    "The southern region stayed about the same as last year, which was what we expected.",
    "Our next step is a pilot with two customers, starting at the beginning of next month.",
    "If there are no more questions, I will send a summary to everyone this evening.",
};

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// One sentence spoken by espeak-ng, at 16 kHz in float.
std::vector<float> speak(const std::string& voice, const std::string& text) {
    const std::string command = "espeak-ng -v " + voice + " --stdout \"" + text + "\"";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string wav;
    char chunk[65536];
    for (std::size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe.get())) > 0;) wav.append(chunk, n);
    if (wav.size() < 44 || wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 4, "WAVE") != 0) {
        std::fprintf(stderr, "espeak-ng gave no sound (is it installed? tools/install-deps.sh)\n");
        std::exit(1);
    }
    int rate = 22050;
    std::string samples;
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        const std::uint32_t size = le32(wav, at + 4);
        if (wav.compare(at, 4, "fmt ") == 0) rate = static_cast<int>(le32(wav, at + 12));
        // Written to a pipe, the data's size is left at a placeholder: it runs to the end.
        if (wav.compare(at, 4, "data") == 0) {
            samples = wav.substr(at + 8, std::min<std::size_t>(size, wav.size() - at - 8));
            break;
        }
        at += 8 + size + (size & 1);
    }
    auto converter = SwrAudioConverters().make(CaptureFormat{.sampleRate = rate, .channels = 1, .kind = SampleKind::int16});
    const std::size_t frames = samples.size() / 2;
    auto converted = converter->convert(samples.data(), frames, frames * kRate / static_cast<std::size_t>(rate) + 64);
    return converted ? *converted : std::vector<float>{};
}

// Who speaks in a stretch of the conversation, and where it lies on the timeline.
enum class Who { far, near, both };
struct Stretch {
    Who who;
    std::size_t from;
    std::size_t to;
};

struct Conversation {
    std::vector<float> far;   // what the computer plays
    std::vector<float> near;  // the user's voice alone
    std::vector<Stretch> stretches;
};

Conversation converse() {
    std::vector<std::vector<float>> near, far;
    for (const char* text : kNear) near.push_back(speak("en-us", text));
    for (const char* text : kFar) far.push_back(speak("en-us+f3", text));
    Conversation talk;
    const Who turns[] = {Who::far, Who::near, Who::far, Who::both, Who::near, Who::far, Who::both, Who::near, Who::far, Who::both};
    std::size_t at = kRate / 2, nearNext = 0, farNext = 0;
    for (const Who who : turns) {
        const std::vector<float>* voices[2] = {who != Who::near ? &far[farNext++ % far.size()] : nullptr,
                                               who != Who::far ? &near[nearNext++ % near.size()] : nullptr};
        std::size_t longest = 0, shortest = SIZE_MAX;
        for (const auto* voice : voices) {
            if (!voice) continue;
            longest = std::max(longest, voice->size());
            shortest = std::min(shortest, voice->size());
        }
        talk.far.resize(at + longest, 0.0f);
        talk.near.resize(at + longest, 0.0f);
        if (voices[0]) std::copy(voices[0]->begin(), voices[0]->end(), talk.far.begin() + static_cast<long>(at));
        if (voices[1]) std::copy(voices[1]->begin(), voices[1]->end(), talk.near.begin() + static_cast<long>(at));
        // The far voice's echo rings on a little after it ends; both at once is only where both speak.
        const std::size_t to = who == Who::far ? at + longest + kRate * 3 / 10 : at + (who == Who::both ? shortest : longest);
        talk.stretches.push_back({who, at, to});
        at += longest + kRate * 7 / 10;
    }
    talk.far.resize(at, 0.0f);
    talk.near.resize(at, 0.0f);
    return talk;
}

// What the microphone hears: the user, the far voice through the room, and a little noise.
std::vector<float> microphone(const Conversation& talk, int delayMs) {
    std::mt19937 random(7);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    const std::size_t delay = static_cast<std::size_t>(delayMs) * kRate / 1000;
    std::vector<float> path(delay + 480, 0.0f);  // the direct sound, then 30 ms of the room
    path[delay] = 0.5f;
    for (std::size_t k = 1; k < 480; ++k) path[delay + k] = 0.15f * gauss(random) * std::exp(-static_cast<float>(k) / 60.0f);
    std::vector<float> mic(talk.near);
    for (std::size_t i = 0; i < mic.size(); ++i) {
        float echo = 0;
        for (std::size_t k = delay; k < path.size() && k <= i; ++k) echo += path[k] * talk.far[i - k];
        mic[i] += echo + 0.0005f * gauss(random);
    }
    return mic;
}

struct Measured {
    double erleDb = 0, nearLossDb = 0, doubleTalkCorr = 0, cpuShare = 0;
};

Measured record(const fs::path& dir, const Conversation& talk, const std::vector<float>& mic,
                std::shared_ptr<EchoCancellers> echo) {
    fs::create_directories(dir);
    bench::NoMainLoop loop;
    auto created = SystemAudioCapture::create(dir, SystemAudioCapturePorts{
                                                       .applicationIdentifier = "jp.tomoriva.OrvanOffice.bench",
                                                       .clock = std::make_shared<SteadyClock>(),
                                                       .converters = std::make_shared<SwrAudioConverters>(),
                                                       .writers = std::make_shared<FfmpegAudioFileWriters>(),
                                                       .notifications = NotificationCenter::create(loop),
                                                       .echoCancellers = std::move(echo)});
    auto capture = std::get<std::shared_ptr<SystemAudioCapture>>(created);
    const double cpuBefore = bench::processCpuSeconds();
    const CaptureFormat format{.sampleRate = kRate, .channels = 1};
    for (std::size_t first = 0; first + kBuffer <= mic.size(); first += kBuffer) {
        const double t = 1000.0 + static_cast<double>(first) / kRate;
        const CapturedBuffer played{.type = CaptureOutputType::systemAudio, .presentationTime = t, .format = format,
                                    .samples = talk.far.data() + first, .frames = kBuffer};
        const CapturedBuffer heard{.type = CaptureOutputType::microphone, .presentationTime = t, .format = format,
                                   .samples = mic.data() + first, .frames = kBuffer};
        capture->queue().sync([&] {
            capture->handle(played);
            capture->handle(heard);
        });
    }
    std::promise<std::variant<fs::path, RecordingFailure>> stopped;
    capture->stop([&](std::variant<fs::path, RecordingFailure> file) { stopped.set_value(std::move(file)); });
    const auto file = stopped.get_future().get();
    Measured measured;
    measured.cpuShare = (bench::processCpuSeconds() - cpuBefore) / (static_cast<double>(mic.size()) / kRate);
    std::string error;
    const auto decoded = std::holds_alternative<fs::path>(file)
                             ? orvan::testing::decodeAudio(std::get<fs::path>(file), &error, 1)
                             : std::nullopt;
    if (!decoded || decoded->samples.size() + kBuffer < mic.size()) {
        std::fprintf(stderr, "no finished file: %s\n", error.c_str());
        std::exit(1);
    }
    const auto& out = decoded->samples;
    const auto energy = [&](const std::vector<float>& s, Who who) {
        double sum = 0;
        for (const auto& stretch : talk.stretches) {
            for (std::size_t i = stretch.from; who == stretch.who && i < std::min(stretch.to, out.size()); ++i) {
                sum += static_cast<double>(s[i]) * static_cast<double>(s[i]);
            }
        }
        return sum;
    };
    measured.erleDb = 10 * std::log10(energy(mic, Who::far) / energy(out, Who::far));
    measured.nearLossDb = std::abs(10 * std::log10(energy(out, Who::near) / energy(talk.near, Who::near)));
    double product = 0;
    for (const auto& stretch : talk.stretches) {
        for (std::size_t i = stretch.from; stretch.who == Who::both && i < std::min(stretch.to, out.size()); ++i) {
            product += static_cast<double>(out[i]) * static_cast<double>(talk.near[i]);
        }
    }
    measured.doubleTalkCorr = product / std::sqrt(energy(out, Who::both) * energy(talk.near, Who::both));
    return measured;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> delays{40, 95, 150};
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--delays") {
            delays.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');) delays.push_back(std::atoi(item.c_str()));
        }
    }
    const Conversation talk = converse();
    orvan::testing::TempDirectory temporary("orvan-echo-bench");
    std::printf("a conversation of %.1f s; each delay recorded with the canceller, then without\n",
                static_cast<double>(talk.far.size()) / kRate);
    std::printf("%-7s %20s %24s %22s %22s\n", "delay", "erle (without)", "near-end loss (without)",
                "double-talk corr", "cpu share (without)");
    Measured worst{.erleDb = 1e9, .nearLossDb = 0, .doubleTalkCorr = 1, .cpuShare = 0};
    for (const int delay : delays) {
        const auto mic = microphone(talk, delay);
        const auto path = temporary.path() / std::to_string(delay);
        const auto ours = record(path / "on", talk, mic, std::make_shared<WebRtcEchoCancellers>());
        const auto reference = record(path / "off", talk, mic, nullptr);
        std::printf("%4d ms %8.1f dB (%5.1f) %12.2f dB (%5.2f) %15.3f (%5.3f) %11.2f %% (%4.2f %%)\n", delay, ours.erleDb,
                    reference.erleDb, ours.nearLossDb, reference.nearLossDb, ours.doubleTalkCorr,
                    reference.doubleTalkCorr, 100 * ours.cpuShare, 100 * reference.cpuShare);
        worst.erleDb = std::min(worst.erleDb, ours.erleDb);
        worst.nearLossDb = std::max(worst.nearLossDb, ours.nearLossDb);
        worst.doubleTalkCorr = std::min(worst.doubleTalkCorr, ours.doubleTalkCorr);
        worst.cpuShare = std::max(worst.cpuShare, ours.cpuShare);
    }
    std::printf("erle_db: %.1f\nnear_end_loss_db: %.2f\ndouble_talk_corr: %.3f\ncpu_share: %.4f\n", worst.erleDb,
                worst.nearLossDb, worst.doubleTalkCorr, worst.cpuShare);
    return 0;
}
