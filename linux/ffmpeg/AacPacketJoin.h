#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioJoiner.h"

namespace orvan {

// Joins AAC segments without decoding them: their packets, back to back, in one MPEG-4 audio file
// whose edit list has one entry per segment, from its own first sample for exactly its duration.
// Each segment's encoder started from the previous segment's last samples (its lead-in), so the
// packets before a segment's own audio (lead-in and encoder priming) bring the decoder to where the
// previous one left off; the edit list only hides them. Between entries, readers honour only edits
// of whole packets, so a segment fits when its lead-in is whole packets and, unless it is the last,
// its audio ends on a packet's end (rotations cut segments so). One that ends elsewhere before a cut
// (a pause) plays on to its last packet's end: under 64 ms of the encoder's silence. Anything else
// is refused, for the caller to decode and encode the segments again.
class AacPacketJoin {
public:
    // Nothing once `output` holds the joined pieces; otherwise why not (`output` removed).
    static std::optional<std::string> join(const std::vector<AudioJoiner::Piece>& pieces,
                                       const std::filesystem::path& output, int sampleRate);
};

}  // namespace orvan
