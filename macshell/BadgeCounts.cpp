#include "macshell/BadgeCounts.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvan {

namespace {

constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();

bool isNumber(const nlohmann::json& value) { return value.is_number() || value.is_boolean(); }

std::int64_t counter(const nlohmann::json& dictionary, const char* key) {
    const auto found = dictionary.find(key);
    if (found == dictionary.end() || !isNumber(*found)) return 0;
    const nlohmann::json& value = *found;
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        return number > static_cast<std::uint64_t>(kLargest) ? kLargest : static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) return std::max<std::int64_t>(value.get<std::int64_t>(), 0);
    const double number = std::trunc(value.get<double>());
    if (!(number > 0)) return 0;
    // 2^63 is the first double beyond the range; everything below it converts exactly.
    return number >= 9223372036854775808.0 ? kLargest : static_cast<std::int64_t>(number);
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) { return a > kLargest - b ? kLargest : a + b; }

struct IncreaseRow {
    const char* label;
    std::int64_t BadgeCounts::*counter;
    bool sound;
};

// The order of the notification's lines; direct messages come before mentions.
constexpr IncreaseRow kIncreaseRows[] = {
    {"今日の凸リスト", &BadgeCounts::salesToday, false},
    {"送信承認待ち", &BadgeCounts::outbox, false},
    {"承認待ち", &BadgeCounts::approvals, false},
    {"今日のフォーカス", &BadgeCounts::todayFocus, false},
    {"確認待ちの企業", &BadgeCounts::companyVerify, false},
    {"未読メッセージ", &BadgeCounts::chatUnread, false},
    {"DM", &BadgeCounts::chatDirect, true},
    {"自分宛メンション", &BadgeCounts::chatMentions, true},
};

}  // namespace

BadgeCounts BadgeCounts::from(const nlohmann::json& dictionary) {
    BadgeCounts counts;
    if (!dictionary.is_object()) return counts;
    counts.salesToday = counter(dictionary, "salesToday");
    counts.outbox = counter(dictionary, "outbox");
    counts.approvals = counter(dictionary, "approvals");
    counts.todayFocus = counter(dictionary, "todayFocus");
    counts.companyVerify = counter(dictionary, "companyVerify");
    counts.chatUnread = counter(dictionary, "chatUnread");
    counts.chatMentions = counter(dictionary, "chatMentions");
    counts.chatDirect = counter(dictionary, "chatDirect");
    const auto notifications = dictionary.find("notifications");
    const auto unread = dictionary.find("chatUnread");
    if (notifications != dictionary.end() && isNumber(*notifications) && unread != dictionary.end() && isNumber(*unread)) {
        counts.attention = saturatingAdd(counter(dictionary, "notifications"), counts.chatUnread);
    }
    return counts;
}

std::int64_t BadgeCounts::menuBarTotal() const {
    std::int64_t total = 0;
    for (const std::int64_t part : {salesToday, outbox, approvals, todayFocus, companyVerify, chatUnread}) {
        total = saturatingAdd(total, part);
    }
    return total;
}

BadgeCounts::Increases BadgeCounts::increasesSince(const BadgeCounts& previous) const {
    Increases increases;
    for (const IncreaseRow& row : kIncreaseRows) {
        const std::int64_t now = this->*row.counter;
        const std::int64_t before = previous.*row.counter;
        if (now <= before) continue;
        increases.lines.push_back(std::string(row.label) + " " + std::to_string(now) + "件（+" +
                                  std::to_string(now - before) + "）");
        increases.wantsSound = increases.wantsSound || row.sound;
    }
    return increases;
}

}  // namespace orvan
