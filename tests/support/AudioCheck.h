#pragma once

#include <complex>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvan::testing {

// A file's audio as a reader should hear it: one channel as float at the stream's rate, decoded by the
// ffmpeg command line (not by our own FFmpeg code), encoder priming and padding left out.
struct DecodedAudio {
    int sampleRate = 0;
    int channels = 0;  // of the file; `samples` holds one of them
    std::vector<float> samples;
    double seconds() const { return sampleRate > 0 ? static_cast<double>(samples.size()) / sampleRate : 0.0; }
};

// nullopt when the file cannot be opened or decoded at all. `channel` picks which channel is kept.
std::optional<DecodedAudio> decodeAudio(const std::filesystem::path& file, std::string* error = nullptr,
                                        int channel = 0);

// The complex amplitude at `frequency` over samples [from, from + count): a single-bin DFT, the
// Goertzel filter's result. A full-scale sine of amplitude A at that frequency gives |x| = A / 2 when
// the window holds a whole number of periods.
std::complex<double> toneAt(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                            int sampleRate);

// How much of the window's energy is the tone at `frequency`: near 1 for that tone alone, near 0
// for silence or another tone.
double toneShare(const std::vector<float>& samples, std::size_t from, std::size_t count, double frequency,
                 int sampleRate);

double rms(const std::vector<float>& samples, std::size_t from, std::size_t count);

// The smallest tone share and level over windows of `window` samples of a steady tone, leaving out
// `skipStart` samples at the start (where an encoder starting from silence rings briefly).
struct ToneLevels {
    double smallestShare = 1;
    double smallestRms = 1e9;
    std::size_t smallestShareAt = 0;
};
ToneLevels toneLevels(const std::vector<float>& samples, double frequency, int sampleRate, std::size_t window,
                      std::size_t skipStart = 0);

// How far the tone after `at` is shifted against the tone before it, in samples: a gap of n samples
// at `at` gives +n, an overlap -n (modulo one period of the tone). Compares the phase of two long
// windows a little away from `at`, each a whole number of periods, so that the coding noise of a
// single frame does not count.
double toneShiftAt(const std::vector<float>& samples, std::size_t at, double frequency, int sampleRate,
                   std::size_t window = 4000, std::size_t guard = 2000);

}  // namespace orvan::testing
