#include "plugin/MeetingDetector.h"

#include <array>
#include <map>
#include <set>

#include "plugin/BrowserWindows.h"
#include "plugin/MicrophoneUse.h"
#include "plugin/Utf8Text.h"

namespace orvan::MeetingDetector {

namespace {

// The browsers whose tab titles name the meeting service; Chromium, Firefox, Vivaldi and Opera are
// the ones a Linux desktop adds.
constexpr std::array<std::string_view, 10> kBrowsers = {
    "arc", "google chrome", "safari", "microsoft edge", "brave browser", "dia",
    "chromium", "firefox", "vivaldi", "opera"};

// Hyphen-minus, vertical bar, en dash, em dash, space, ideographic space.
constexpr std::u32string_view kSeparators = U"-|\u2013\u2014 \u3000";

// The given process and every process below it.
std::set<int> processTree(const std::vector<RunningProcess>& processes, int root) {
    std::multimap<int, int> children;
    for (const RunningProcess& process : processes) children.emplace(process.parentId, process.processId);
    std::set<int> tree;
    std::vector<int> open{root};
    while (!open.empty()) {
        const int pid = open.back();
        open.pop_back();
        if (pid <= 0 || !tree.insert(pid).second) continue;
        auto [first, last] = children.equal_range(pid);
        for (auto it = first; it != last; ++it) open.push_back(it->second);
    }
    return tree;
}

}  // namespace

std::optional<std::string> meetingAppLabel(std::string_view processName) {
    const std::string name = utf8::asciiLower(processName);
    if (name == "cpthost") return "Zoom";
    if (name.find("teams") != std::string::npos && name.find("meeting") != std::string::npos) return "Teams";
    return std::nullopt;
}

bool isMeetingBrowser(std::string_view owner) {
    const std::string name = utf8::asciiLower(owner);
    for (std::string_view browser : kBrowsers) {
        if (name == browser) return true;
    }
    return false;
}

bool titleEndsWithLabel(std::string_view label, std::string_view title) {
    const std::size_t labelLength = utf8::length(label);
    if (utf8::length(title) <= labelLength) return false;
    const std::string lowerTitle = utf8::asciiLower(title);
    if (!lowerTitle.ends_with(utf8::asciiLower(label))) return false;
    // The label is what the title ends with, so its characters are its bytes at the end.
    const std::string_view remainder = utf8::trim(title.substr(0, title.size() - label.size()), kSeparators);
    return utf8::hasNonWhitespace(remainder);
}

Found classifyWindows(const std::vector<Window>& windows, bool screenAccess) {
    if (windows.empty()) return Found::none();
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kRules = {{
        {"Google Meet", "Google Meet"}, {"Microsoft Teams", "Teams"}, {"Zoom", "Zoom"}}};
    bool sawBrowser = false;
    for (const Window& window : windows) {
        if (!isMeetingBrowser(window.owner)) continue;
        sawBrowser = true;
        if (!window.title) continue;
        const std::string_view title = utf8::trimWhitespace(*window.title);
        for (const auto& [ending, label] : kRules) {
            if (titleEndsWithLabel(ending, title)) return Found::inMeeting(std::string(label));
        }
    }
    return sawBrowser && !screenAccess ? Found::needsScreenPermission() : Found::none();
}

std::vector<Window> listWindows(const DesktopWindows& desktop) {
    std::vector<Window> windows;
    windows.reserve(desktop.windows.size());
    for (const DesktopWindow& window : desktop.windows) {
        Window entry{BrowserWindows::ownerName(window.windowClass), std::nullopt};
        if (window.title && utf8::hasNonWhitespace(*window.title))
            entry.title = BrowserWindows::pageTitle(entry.owner, *window.title);
        windows.push_back(std::move(entry));
    }
    return windows;
}

Found detectMeeting(const Sources& sources) {
    const std::vector<RunningProcess> processes = sources.processes ? sources.processes->list() : std::vector<RunningProcess>{};
    for (const RunningProcess& process : processes) {
        for (const std::string* name : {&process.name, &process.executableName}) {
            if (name->empty()) continue;
            if (auto label = meetingAppLabel(*name)) return Found::inMeeting(label);
        }
    }

    MicrophoneUse::Holders microphone;
    if (sources.streams && sources.clock) {
        microphone = MicrophoneUse::holders(sources.streams->list(), processTree(processes, sources.ownProcessId),
                                            sources.clock->now());
        if (microphone.meetingClient) return Found::inMeeting(microphone.meetingClient);
    }

    const DesktopWindows desktop = sources.windows ? sources.windows->list() : DesktopWindows{};
    const Found found = classifyWindows(listWindows(desktop), desktop.titlesReadable);
    if (found.kind == Found::Kind::inMeeting) return found;
    // Without readable titles a browser in a call is a meeting whose service cannot be told.
    if (!desktop.titlesReadable && microphone.browser) return Found::inMeeting(std::nullopt);
    return found;
}

}  // namespace orvan::MeetingDetector
