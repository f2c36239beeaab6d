#include <gtest/gtest.h>

#include <chrono>

#include "plugin/BrowserWindows.h"
#include "plugin/MeetingDetector.h"
#include "plugin/MeetingWatcher.h"
#include "tests/fakes/FakeMeetingSources.h"
#include "tests/fakes/ManualClock.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using namespace std::chrono_literals;
using MeetingDetector::Window;

const Found kNone = Found::none();
const Found kPermission = Found::needsScreenPermission();
Found meeting(std::optional<std::string> label) { return Found::inMeeting(std::move(label)); }

TEST(MeetingDetectionTest, ProcessNamesAndWindowTitles) {
    struct Case {
        const char* name;
        std::vector<RunningProcess> processes;
        std::vector<Window> windows;
        bool screenAccess;
        Found expected;
    };
    const auto browser = [](std::string title) { return Window{"Safari", std::move(title)}; };
    const Case cases[] = {
        {"CptHost is Zoom, case ignored", {{1, 0, "CptHost", ""}}, {}, true, meeting("Zoom")},
        {"processes come before windows", {{1, 0, "CptHost", ""}}, {browser("a - Google Meet")}, true, meeting("Zoom")},
        {"the executable name counts too", {{1, 0, "java", "cpthost"}}, {}, true, meeting("Zoom")},
        {"Teams with meeting", {{1, 0, "MSTeams Meeting Helper", ""}}, {}, true, meeting("Teams")},
        {"Teams without meeting", {{1, 0, "Teams", "teams"}}, {}, true, kNone},
        {"Google Meet from a browser", {}, {browser("Weekly sync - Google Meet")}, true, meeting("Google Meet")},
        {"the same title from another application", {}, {{"Notes", "Weekly sync - Google Meet"}}, true, kNone},
        {"no service name at the end", {}, {browser("Meet - abc-defg-hij")}, true, kNone},
        {"Zoom alone", {}, {browser("Zoom")}, true, kNone},
        {"only separators before the label", {}, {browser(" - Google Meet")}, true, kNone},
        {"ideographic space and bar before Zoom", {}, {browser("\u3000|Zoom")}, true, kNone},
        {"会議 | Zoom", {}, {browser("会議 | Zoom")}, true, meeting("Zoom")},
        {"a title ending in the ideographic space", {}, {browser("会議 - Microsoft Teams\u3000")}, true, meeting("Teams")},
        {"two characters before a label, counted as characters", {}, {browser("会議Zoom")}, true, meeting("Zoom")},
        {"owner compared ignoring case", {}, {{"google chrome", "x - Google Meet"}}, true, meeting("Google Meet")},
        {"first matching window decides", {}, {browser("a - Zoom"), browser("b - Google Meet")}, true, meeting("Zoom")},
        {"browser without a match and no access", {}, {browser("Inbox"), {"Safari", std::nullopt}}, false, kPermission},
        {"browser without a match with access", {}, {browser("Inbox")}, true, kNone},
        {"no browser and no access", {}, {{"Terminal", "Zoom - Zoom"}}, false, kNone},
    };
    auto processes = std::make_shared<FakeRunningProcesses>();
    auto windows = std::make_shared<FakeWindowList>();
    const MeetingDetector::Sources sources{processes, windows, nullptr, nullptr, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        processes->set(c.processes);
        // The owners here are no X11 window classes, so they reach the rules as they are.
        DesktopWindows desktop{{}, c.screenAccess};
        for (const Window& window : c.windows) desktop.windows.push_back({window.owner, window.title});
        windows->set(desktop);
        EXPECT_EQ(MeetingDetector::detectMeeting(sources), c.expected);
    }
}

TEST(MeetingDetectionTest, WatcherSequences) {
    using Event = MeetingWatcher::Event;
    const Found zoom = meeting("Zoom");
    struct Case {
        const char* name;
        std::vector<Found> passes;
        std::vector<Event> events;
        std::optional<std::string> current;
        int misses;
    };
    const Case cases[] = {
        {"started once", {zoom, zoom}, {{"started", "Zoom"}}, "Zoom", 0},
        {"ended on the third miss only", {zoom, kNone, kNone, kNone, kNone}, {{"started", "Zoom"}, {"ended", {}}}, {}, 0},
        {"a change of service is not reported", {zoom, kNone, kNone, meeting("Teams")}, {{"started", "Zoom"}}, "Zoom", 0},
        {"seen again resets the misses", {zoom, kNone, kNone, zoom, kNone, kNone}, {{"started", "Zoom"}}, "Zoom", 2},
        {"permission on every pass", {kPermission, kPermission}, {{"permission", {}}, {"permission", {}}}, {}, 0},
        {"unreadable titles count as a miss", {zoom, kNone, kPermission, kPermission}, {{"started", "Zoom"}, {"permission", {}}, {"ended", {}}}, {}, 0},
        {"and the meeting seen again resets them", {zoom, kPermission, kPermission, zoom, kPermission}, {{"started", "Zoom"}, {"permission", {}}, {"permission", {}}, {"permission", {}}}, "Zoom", 1},
        {"a meeting without a service", {meeting(std::nullopt), kNone, kNone, kNone}, {{"started", {}}, {"ended", {}}}, {}, 0},
        {"nothing while idle", {kNone, kNone, kNone}, {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeetingWatcher watcher;
        std::vector<Event> events;
        for (const Found& found : c.passes) {
            if (auto event = watcher.update(found)) events.push_back(*event);
        }
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(watcher.current, c.current);
        EXPECT_EQ(watcher.misses, c.misses);
    }
}

TEST(MeetingDetectionTest, OwnersAndBrowserSuffixes) {
    struct Case {
        const char* windowClass;
        const char* name;
        const char* owner;
        const char* title;
    };
    const Case cases[] = {
        {"Google-chrome", "Weekly sync - Google Meet - Google Chrome", "Google Chrome", "Weekly sync - Google Meet"},
        {"Google-chrome", "Weekly sync - Google Meet - Google Chrome - Work", "Google Chrome", "Weekly sync - Google Meet"},
        {"google-chrome-beta", "a - Zoom - Google Chrome", "Google Chrome", "a - Zoom"},
        {"Chromium", "a - Zoom - Chromium", "Chromium", "a - Zoom"},
        {"chromium-browser", "a - Zoom - Chromium", "Chromium", "a - Zoom"},
        {"firefox", "Weekly sync - Google Meet \u2014 Mozilla Firefox", "Firefox", "Weekly sync - Google Meet"},
        {"firefox-esr", "x \u2014 Mozilla Firefox Private Browsing", "Firefox", "x"},
        {"Microsoft-edge", "x - Microsoft Teams - Microsoft\u200B Edge", "Microsoft Edge", "x - Microsoft Teams"},
        {"Brave-browser", "x - Zoom - Brave", "Brave Browser", "x - Zoom"},
        {"Vivaldi-stable", "x - Zoom - Vivaldi", "Vivaldi", "x - Zoom"},
        {"Gedit", "x - Google Chrome", "Gedit", "x - Google Chrome"},
        {"Google-chrome", "a - Google Chrome - b - c", "Google Chrome", "a - Google Chrome - b - c"},
        {"chromiumx", "x - Chromium", "chromiumx", "x - Chromium"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto windows = MeetingDetector::listWindows({{{c.windowClass, c.name}}, true});
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows[0].owner, c.owner);
        EXPECT_EQ(windows[0].title, c.title);
    }
}

TEST(MeetingDetectionTest, MicrophoneHolders) {
    constexpr int kSelf = 100;
    auto clock = std::make_shared<ManualClock>();
    const Clock::Time now = clock->now();
    const auto stream = [now](std::string binary, int pid = 7) {
        RecordingStream s;
        s.processId = pid;
        s.processBinary = std::move(binary);
        s.activeSince = now - 60s;
        return s;
    };
    auto corked = stream("zoom");
    corked.corked = true;
    auto monitor = stream("zoom");
    monitor.fromMonitor = true;
    auto meter = stream("zoom");
    meter.resampleMethod = "peaks";
    auto named = stream("zoom");
    named.mediaName = "Peak detect";
    auto production = stream("teams");
    production.mediaRole = "production";
    auto fresh = stream("zoom");
    fresh.activeSince = now - 2s;
    struct Case {
        const char* name;
        std::vector<RecordingStream> streams;
        bool titlesReadable;
        Found expected;
    };
    const Case cases[] = {
        {"the Zoom client", {stream("zoom")}, true, meeting("Zoom")},
        {"a Teams client", {stream("teams-for-linux")}, true, meeting("Teams")},
        {"paused", {corked}, true, kNone},
        {"an output's monitor", {monitor}, true, kNone},
        {"a level meter", {meter, named}, true, kNone},
        {"production software", {production}, true, kNone},
        {"open for a moment", {fresh}, true, kNone},
        {"the shell itself", {stream("zoom", kSelf)}, true, kNone},
        {"the shell's web view", {stream("zoom", kSelf + 1)}, true, kNone},
        {"recording software", {stream("obs"), stream("audacity")}, false, kNone},
        {"a browser without readable titles", {stream("chrome")}, false, meeting(std::nullopt)},
        {"a browser with readable titles", {stream("chrome")}, true, kNone},
    };
    auto processes = std::make_shared<FakeRunningProcesses>();
    processes->set({{kSelf, 1, "orvanoffice", ""}, {kSelf + 1, kSelf, "WebKitWebProces", ""}, {7, 1, "x", ""}});
    auto windows = std::make_shared<FakeWindowList>();
    auto streams = std::make_shared<FakeRecordingStreams>();
    const MeetingDetector::Sources sources{processes, windows, streams, clock, kSelf};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        streams->set(c.streams);
        windows->set({{}, c.titlesReadable});
        EXPECT_EQ(MeetingDetector::detectMeeting(sources), c.expected);
    }
}

}  // namespace
}  // namespace orvan
