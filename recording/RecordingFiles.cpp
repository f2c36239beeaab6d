#include "recording/RecordingFiles.h"

#include <string>

namespace orvan::recording_files {

namespace fs = std::filesystem;

bool itemExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

fs::path resolved(const fs::path& path) {
    std::error_code error;
    fs::path real = fs::weakly_canonical(fs::absolute(path, error), error);
    if (error) real = fs::absolute(path, error).lexically_normal();
    std::string text = real.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return fs::path(text);
}

std::variant<std::vector<fs::path>, SystemError> listEntries(const fs::path& dir) {
    std::error_code error;
    fs::directory_iterator entries(dir, error);
    if (error) return std::vector<fs::path>{};
    std::vector<fs::path> paths;
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) paths.push_back(entries->path());
    if (error) return SystemError{error.message()};
    return paths;
}

}  // namespace orvan::recording_files
