#pragma once

#include <functional>

#include "platform/Url.h"

namespace orvan {

// The desktop's default handler for a URL (browser, mail, phone).
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // `completion` runs on the main loop once the open call has finished, whatever its outcome.
    virtual void open(const Url& url, std::function<void()> completion) = 0;
};

}  // namespace orvan
