// Meeting detection against the real X server, /proc and sound server of the test session (the watch's
// passes and debouncing are logic, tested with fakes). There is no window manager in the session: the
// test publishes the client list on the root window itself, as a window manager would.
#include <gtest/gtest.h>
#include <glib.h>
#include <pulse/simple.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstring>

#include "linux/proc/ProcRunningProcesses.h"
#include "linux/pulse/PulseRecordingStreams.h"
#include "linux/x11/XcbWindowList.h"
#include "plugin/MeetingDetector.h"
#include "tests/fakes/ManualClock.h"
#include "tests/integration/GtkTestSupport.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TestWindows.h"

extern char** environ;

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::ManualClock;
using testing::TestWindows;
using testing::TempDirectory;
using testing::runUntil;

// A program run as a named copy of /bin/sleep, or any command; killed at the end.
struct Child {
    explicit Child(std::vector<std::string> argv, const std::filesystem::path& program = {}) {
        std::vector<char*> args;
        for (std::string& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        const std::string path = program.empty() ? argv[0] : program.string();
        EXPECT_EQ(posix_spawnp(&pid, path.c_str(), nullptr, nullptr, args.data(), environ), 0);
    }
    ~Child() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    pid_t pid = 0;
};

Found detect(std::shared_ptr<RunningProcesses> processes, std::shared_ptr<WindowList> windows,
             std::shared_ptr<RecordingStreams> streams = nullptr, std::shared_ptr<Clock> clock = nullptr) {
    return MeetingDetector::detectMeeting({std::move(processes), std::move(windows), std::move(streams), std::move(clock),
                                           static_cast<int>(getpid())});
}

TEST(MeetingSourcesTest, BrowserWindowsFromTheXServer) {
    TestWindows x;
    const xcb_window_t other = x.create("Gedit", "Weekly sync - Google Meet - Google Chrome");
    const xcb_window_t dock = x.create("Google-chrome", "Panel - Google Meet - Google Chrome", "_NET_WM_WINDOW_TYPE_DOCK");
    const xcb_window_t chrome = x.create("Google-chrome", "Weekly sync - Google Meet - Google Chrome");
    x.publish({other, dock, chrome});
    auto windows = std::make_shared<XcbWindowList>();

    const DesktopWindows listed = windows->list();
    ASSERT_EQ(listed.windows.size(), 2u);
    EXPECT_EQ(listed.windows[0].windowClass, "Google-chrome");
    EXPECT_EQ(listed.windows[1].windowClass, "Gedit");
    EXPECT_TRUE(listed.titlesReadable);
    EXPECT_EQ(detect(nullptr, windows), Found::inMeeting("Google Meet"));

    x.destroy(chrome);
    x.publish({other, dock});
    EXPECT_EQ(detect(nullptr, windows), Found::none());
}

TEST(MeetingSourcesTest, ProcessesByNameFromProc) {
    TempDirectory temp{"orvan-processes"};
    std::filesystem::copy_file("/bin/sleep", temp.path() / "CptHost");
    std::filesystem::copy_file("/bin/sleep", temp.path() / "VeryLongProcessName");
    auto processes = std::make_shared<ProcRunningProcesses>();
    EXPECT_EQ(detect(processes, nullptr), Found::none());

    Child cpthost({"CptHost", "30"}, temp.path() / "CptHost");
    Child longName({(temp.path() / "VeryLongProcessName").string(), "30"});
    ASSERT_TRUE(runUntil([&] { return detect(processes, nullptr) == Found::inMeeting("Zoom"); }));
    // The spawn returns while the child may still be in its exec: a later listing has the name.
    EXPECT_TRUE(runUntil([&] {
        for (const RunningProcess& process : processes->list())
            if (process.processId == longName.pid && process.name == "VeryLongProcessName") return true;
        return false;
    }));
}

TEST(MeetingSourcesTest, ALongNameCaughtInTheMiddleOfAnExecIsReadAgainAtTheNextListing) {
    // A /proc of one process whose command name the kernel cut short and whose arguments the exec
    // has not set up yet.
    TempDirectory proc{"orvan-proc"};
    const auto folder = proc.path() / "4242";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "stat") << "4242 (VeryLongProcess) S 1 0 0 0 0 0 0 0 0 0 0 0 0 0 20 0 1 0 777 0 0\n";
    std::ofstream(folder / "cmdline").flush();
    ProcRunningProcesses processes(proc.path());
    ASSERT_EQ(processes.list().size(), 1u);

    std::ofstream(folder / "cmdline") << std::string("/opt/VeryLongProcessName\0--meeting", 34);
    const auto listed = processes.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, "VeryLongProcessName");
}

TEST(MeetingSourcesTest, RecordingStreamOfTheZoomClientButNotOfTheShell) {
    auto clock = std::make_shared<ManualClock>();
    auto streams = std::make_shared<PulseRecordingStreams>(clock);
    auto processes = std::make_shared<ProcRunningProcesses>();
    auto zoomStreams = [&] {
        int count = 0;
        for (const RecordingStream& stream : streams->list()) count += stream.processBinary == "zoom" && !stream.corked;
        return count;
    };

    // The shell's own stream, with the Zoom client's binary name to show it is the process that counts.
    setenv("PULSE_PROP", "application.process.binary=zoom", 1);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, 16000, 1};
    pa_simple* own = pa_simple_new(nullptr, "shell", PA_STREAM_RECORD, nullptr, "mic", &spec, nullptr, nullptr, nullptr);
    ASSERT_NE(own, nullptr);
    // The Zoom client: a process of its own, not one of ours (the shell exits and leaves it to init).
    TempDirectory temp{"orvan-zoom"};
    const std::string pidFile = (temp.path() / "pid").string();
    Child launcher({"sh", "-c", "parecord --raw /dev/null & echo $! > " + pidFile});
    unsetenv("PULSE_PROP");
    ASSERT_TRUE(runUntil([&] { return zoomStreams() == 2; }));
    // Until its launcher has exited, the client is still one of our descendants.
    pid_t zoomPid = 0;
    ASSERT_TRUE(runUntil([&] { return (std::ifstream(pidFile) >> zoomPid) && zoomPid > 0; }));
    ASSERT_TRUE(runUntil([&] {
        for (const RunningProcess& process : processes->list())
            if (process.processId == zoomPid) return process.parentId != launcher.pid;
        return false;
    }));

    // Open for a moment only: not yet a meeting.
    EXPECT_EQ(detect(processes, nullptr, streams, clock), Found::none());
    clock->advance(5s);
    EXPECT_EQ(detect(processes, nullptr, streams, clock), Found::inMeeting("Zoom"));

    // The client ends; the shell's own stream stays and is no meeting.
    kill(zoomPid, SIGTERM);
    ASSERT_TRUE(runUntil([&] { return zoomStreams() == 1; }));
    clock->advance(5s);
    EXPECT_EQ(detect(processes, nullptr, streams, clock), Found::none());
    pa_simple_free(own);
}

}  // namespace
}  // namespace orvan
