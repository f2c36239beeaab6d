#pragma once

#include <memory>

#include "platform/EchoCanceller.h"

namespace orvan {

// WebRTC's echo canceller (the long filter that follows the echo's delay by itself), with nothing
// else of its audio processing: no noise suppression, no gain control, so the voice stays as it was.
class WebRtcEchoCancellers final : public EchoCancellers {
public:
    std::unique_ptr<EchoCancelling> make() override;
};

}  // namespace orvan
