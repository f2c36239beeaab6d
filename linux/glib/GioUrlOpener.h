#pragma once

#include "platform/UrlOpener.h"

namespace orvan {

// The desktop's default handler, through GIO (xdg-open's machinery, portal-aware).
class GioUrlOpener final : public UrlOpener {
public:
    void open(const Url& url, std::function<void()> completion) override;
};

}  // namespace orvan
