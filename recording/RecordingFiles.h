#pragma once

#include <filesystem>
#include <system_error>
#include <variant>
#include <vector>

#include "platform/SystemError.h"
#include "recording/RecordingFailure.h"

// File-system steps shared by the recorder's commands and its finishing of recordings.
namespace orvan::recording_files {

// Any item at all, a dangling symbolic link included.
bool itemExists(const std::filesystem::path& path);

// Clean-up never reports anything of its own.
void removeQuietly(const std::filesystem::path& path);

// Symbolic links resolved, "." and ".." removed, no trailing separator.
std::filesystem::path resolved(const std::filesystem::path& path);

// The entries of a directory: empty when it cannot be opened (missing, not a directory); the error
// when the listing fails part way.
std::variant<std::vector<std::filesystem::path>, SystemError> listEntries(const std::filesystem::path& dir);

// A failing disk (EIO, ESTALE) makes the standard library throw from deep inside background work:
// that is a failure of the operation, never the end of the process.
template <typename Result, typename Work>
Result failureOf(Work&& work) {
    try {
        return work();
    } catch (const std::system_error& error) {
        return RecordingFailure(SystemError{error.code().message()});
    } catch (const std::exception& error) {
        return RecordingFailure(SystemError{error.what()});
    }
}

}  // namespace orvan::recording_files
