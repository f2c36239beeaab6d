#include "tests/support/AudioCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numbers>

namespace orvan::testing {

namespace {

// Runs a shell command; its standard output, or nullopt when it fails.
std::optional<std::string> output(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) bytes.append(buffer, read);
    return pclose(pipe.release()) == 0 ? std::optional(bytes) : std::nullopt;
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

}  // namespace

std::optional<DecodedAudio> decodeAudio(const std::filesystem::path& file, std::string* error, int channel) {
    const auto fail = [error](const std::string& why) -> std::optional<DecodedAudio> {
        if (error) *error = why;
        return std::nullopt;
    };
    const auto probed = output("ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels,start_time,"
                               "duration -of csv=p=0 " + quoted(file) + " 2>&1");
    DecodedAudio audio;
    double start = 0, seconds = 0;
    if (!probed || std::sscanf(probed->c_str(), "%d,%d,%lf,%lf", &audio.sampleRate, &audio.channels, &start, &seconds) != 4)
        return fail("ffprobe: " + probed.value_or("did not run"));
    if (channel < 0 || channel >= audio.channels) return fail("no channel " + std::to_string(channel));
    // On the file's own time line (-copyts), from time zero: a segment's encoder priming lies before it.
    const auto raw = output("ffmpeg -nostdin -v error -copyts -i " + quoted(file) + " -af 'pan=mono|c0=c" +
                            std::to_string(channel) + ",atrim=start=0' -f f32le - 2>/dev/null");
    if (!raw) return fail("ffmpeg could not decode " + file.string());
    // The command line keeps the encoder's padding after the end that the file itself declares.
    const auto end = static_cast<std::size_t>(std::max(0L, std::lround((start + seconds) * audio.sampleRate)));
    audio.samples.resize(std::min(raw->size() / sizeof(float), end));
    if (!audio.samples.empty()) std::memcpy(audio.samples.data(), raw->data(), audio.samples.size() * sizeof(float));
    return audio;
}

std::complex<double> toneAt(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                            int sampleRate) {
    const double step = 2 * std::numbers::pi * frequency / sampleRate;
    std::complex<double> sum;
    for (std::size_t i = 0; i < count && from + i < samples.size(); ++i) {
        const double angle = step * static_cast<double>(from + i);
        sum += static_cast<double>(samples[from + i]) * std::complex<double>(std::cos(angle), -std::sin(angle));
    }
    return sum / static_cast<double>(count);
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t count) {
    double energy = 0;
    std::size_t n = 0;
    for (std::size_t i = from; i < from + count && i < samples.size(); ++i, ++n) {
        energy += static_cast<double>(samples[i]) * static_cast<double>(samples[i]);
    }
    return n > 0 ? std::sqrt(energy / static_cast<double>(n)) : 0.0;
}

double toneShare(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                 int sampleRate) {
    const double level = rms(samples, from, count);
    if (level <= 0) return 0;
    // A sine of amplitude A has RMS A/√2 and |X| = A/2, so 2|X|² / RMS² is 1 for a pure tone.
    const double magnitude = std::abs(toneAt(samples, from, count, frequency, sampleRate));
    return std::min(1.0, 2 * magnitude * magnitude / (level * level));
}

ToneLevels toneLevels(const std::vector<float>& samples, double frequency, int sampleRate, std::size_t window,
                      std::size_t skipStart) {
    ToneLevels result;
    for (std::size_t from = skipStart; from + window <= samples.size(); from += window) {
        const double share = toneShare(samples, from, window, frequency, sampleRate);
        if (share < result.smallestShare) {
            result.smallestShare = share;
            result.smallestShareAt = from;
        }
        result.smallestRms = std::min(result.smallestRms, rms(samples, from, window));
    }
    return result;
}

double toneShiftAt(const std::vector<float>& samples, std::size_t at, double frequency, int sampleRate,
                   std::size_t window, std::size_t guard) {
    if (at < guard + window || at + guard + window > samples.size()) return 0;
    const auto before = toneAt(samples, at - guard - window, window, frequency, sampleRate);
    const auto after = toneAt(samples, at + guard, window, frequency, sampleRate);
    // toneAt measures against time zero, so an unbroken tone has the same phase in both windows; a
    // gap delays the later part, which lowers its phase.
    const double turn = std::remainder(std::arg(before) - std::arg(after), 2 * std::numbers::pi);
    return turn * sampleRate / (2 * std::numbers::pi * frequency);
}

}  // namespace orvan::testing
