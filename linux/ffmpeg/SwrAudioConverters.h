#pragma once

#include <memory>

#include "platform/AudioCapture.h"

namespace orvan {

// Converts with libswresample to 32-bit float, 16 000 Hz, mono.
class SwrAudioConverters final : public AudioConverters {
public:
    std::unique_ptr<AudioConverting> make(const CaptureFormat& input) override;
};

}  // namespace orvan
