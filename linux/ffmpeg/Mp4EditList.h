#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvan {

// One entry of an MPEG-4 edit list: `duration` samples of the track's media from `mediaTime` on.
struct EditEntry {
    std::int64_t mediaTime = 0;
    std::int64_t duration = 0;
};

// Replaces the edit list of the one track of an MPEG-4 file whose movie box comes last (as a
// muxer that writes it at the end leaves it), and sets the movie's and the track's durations to
// the entries' sum. The muxer writes at most one entry; a join needs one per piece. Times count in
// the movie's time scale, which must be the track's too. The error's text when the file is not
// laid out so.
std::optional<std::string> rewriteEditList(const std::filesystem::path& file, const std::vector<EditEntry>& entries);

}  // namespace orvan
