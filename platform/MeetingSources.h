#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace orvan {

// What the meeting watch reads of the system. Each call returns a fresh snapshot; all are called on
// the watch queue.

struct RunningProcess {
    int processId = 0;
    int parentId = 0;
    // The process's own name, then the base name of its executable; either may be empty (unknown).
    std::string name;
    std::string executableName;
};

class RunningProcesses {
public:
    virtual ~RunningProcesses() = default;
    virtual std::vector<RunningProcess> list() = 0;
};

struct DesktopWindow {
    // The window's class as the application set it (e.g. "Google-chrome", "firefox").
    std::string windowClass;
    // The window's name in UTF-8; absent when it has none.
    std::optional<std::string> title;
};

struct DesktopWindows {
    // Application windows, front to back.
    std::vector<DesktopWindow> windows;
    // Whether every application's window and title can be seen (false on a Wayland desktop, where
    // only X11 windows are visible, and when there is no window server to ask).
    bool titlesReadable = false;
};

class WindowList {
public:
    virtual ~WindowList() = default;
    virtual DesktopWindows list() = 0;
};

// A stream recording from a sound source, as the sound server describes it.
struct RecordingStream {
    int processId = 0;
    std::string processBinary;
    std::string applicationName;
    std::string mediaName;
    std::string mediaRole;
    std::string resampleMethod;
    bool corked = false;
    // It records an output's monitor (what is played), not a microphone.
    bool fromMonitor = false;
    // Since when it has recorded without a pause.
    Clock::Time activeSince{};
};

class RecordingStreams {
public:
    virtual ~RecordingStreams() = default;
    virtual std::vector<RecordingStream> list() = 0;
};

}  // namespace orvan
