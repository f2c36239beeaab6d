#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvan {

// The web application's waiting-item counters ("/api/badges"), never negative.
struct BadgeCounts {
    std::int64_t salesToday = 0;
    std::int64_t outbox = 0;
    std::int64_t approvals = 0;
    std::int64_t todayFocus = 0;
    std::int64_t companyVerify = 0;
    std::int64_t chatUnread = 0;
    std::int64_t chatMentions = 0;
    std::int64_t chatDirect = 0;
    // The application icon's number: "notifications" plus "chatUnread", when both are numbers.
    std::optional<std::int64_t> attention;

    // Never fails: a missing, non-numeric or negative value counts 0; fractions are cut toward
    // zero, true counts 1, and values beyond the counter's range stay at its largest value.
    static BadgeCounts from(const nlohmann::json& dictionary);

    // The number beside the tray icon: mentions and direct messages are not part of it.
    std::int64_t menuBarTotal() const;

    // What rose since `previous`, as the notification's lines in their fixed order.
    struct Increases {
        std::vector<std::string> lines;
        bool wantsSound = false;
    };
    Increases increasesSince(const BadgeCounts& previous) const;

    bool operator==(const BadgeCounts&) const = default;
};

}  // namespace orvan
