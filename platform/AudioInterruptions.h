#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace orvan {

// One interruption notification: its type, when it carries one of the expected kind.
struct AudioInterruption {
    static constexpr std::uint64_t kEnded = 0;
    static constexpr std::uint64_t kBegan = 1;
    std::optional<std::uint64_t> type;
};

// Where the microphone's interruptions come from: it goes away or is suspended (began), and comes
// back (ended).
class AudioInterruptions {
public:
    virtual ~AudioInterruptions() = default;
    // Replaces the observer. It is called on any thread and must not block.
    virtual void observe(std::function<void(const AudioInterruption&)> observer) = 0;
};

}  // namespace orvan
