#include <gtest/gtest.h>

#include <fstream>

#include "plugin/AutostartEntry.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

TEST(AutostartEntryTest, OnExactlyWhenTheEntryStartsThisInstallation) {
    testing::TempDirectory temp("orvan-autostart");
    const auto executable = temp.path() / "bin" / "orvanoffice";
    std::filesystem::create_directories(executable.parent_path());
    std::ofstream(executable) << "";
    std::filesystem::create_symlink(executable, temp.path() / "link");
    const auto entry = [&](std::vector<std::string> command) {
        return AutostartEntry{.type = "Application", .hidden = false, .gnomeEnabled = std::nullopt, .command = std::move(command)};
    };
    const std::string self = executable.string();
    struct Case {
        const char* name;
        std::optional<AutostartEntry> entry;
        bool on;
    };
    AutostartEntry hidden = entry({self}), switchedOff = entry({self}), link = entry({self}), notAnApplication = entry({self});
    hidden.hidden = true;
    switchedOff.gnomeEnabled = false;
    link.command = {(temp.path() / "link").string()};
    notAnApplication.type = "Link";
    const Case cases[] = {
        {"no entry", std::nullopt, false},
        {"this installation", entry({self}), true},
        {"this installation with arguments", entry({self, "--hidden"}), true},
        {"the same file through another path", link, true},
        {"unnormalised path to this installation", entry({(temp.path() / "bin" / ".." / "bin" / "orvanoffice").string()}), true},
        {"hidden by the user", hidden, false},
        {"switched off in the session's settings", switchedOff, false},
        {"another installation", entry({"/opt/other/orvanoffice"}), false},
        {"a bare name found on $PATH", entry({"orvanoffice"}), false},
        {"no command", entry({}), false},
        {"not an application", notAnApplication, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AutostartEntry::startsAtLogin(c.entry, executable), c.on);
    }
}

}  // namespace
}  // namespace orvan
