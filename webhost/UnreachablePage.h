#pragma once

#include <string>

#include "platform/Url.h"

namespace orvan {

// The shell's own page for a window whose web application cannot be reached: what went wrong, in
// the application's look, and a button that loads the failed address again.
struct UnreachablePage {
    enum class Reason { offline, serverUnreachable, insecure };

    static constexpr const char* kHeading = "トモリバに接続できません";
    static constexpr const char* kReloadButton = "再読み込み";
    static const char* reasonText(Reason reason);

    // A whole document; every outside piece (the address) is escaped. It needs no script and allows
    // none, and loads nothing.
    static std::string html(Reason reason, const Url& failedURL);
};

}  // namespace orvan
