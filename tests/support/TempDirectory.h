#pragma once

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace orvan::testing {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDirectory {
public:
    explicit TempDirectory(const std::string& prefix = "orvan-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
        path_ = pattern;
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes `bytes` to `path` exactly, creating its parent directories.
inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file.good()) throw std::runtime_error("could not write " + path.string());
}

// The whole of `path`; empty when it cannot be read.
inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A raw track's samples (native 32-bit float) as they stand in `file`.
inline std::vector<float> readTrack(const std::filesystem::path& file) {
    // Read straight into the samples: an empty track has no buffer to copy from.
    std::error_code missing;
    const auto size = std::filesystem::file_size(file, missing);
    std::vector<float> samples(missing ? 0 : size / sizeof(float));
    std::ifstream(file, std::ios::binary)
        .read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
    return samples;
}

}  // namespace orvan::testing
