#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "linux/glib/InstalledCommand.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

using orvan::testing::TempDirectory;
namespace fs = std::filesystem;

// A package's layout: the bundle's executable and a link to it in bin/; other/ holds another
// program of the same name.
TEST(InstalledCommandTest, TheLinkOnThePathThatReachesTheExecutableIsTheCommand) {
    TempDirectory root;
    const fs::path executable = root.path() / "lib" / "OrvanOffice.bundle" / "orvanoffice";
    orvan::testing::writeFile(executable, "#!/bin/sh\n");
    orvan::testing::writeFile(root.path() / "other" / "orvanoffice", "#!/bin/sh\n");
    fs::create_directories(root.path() / "bin");
    fs::create_symlink("../lib/OrvanOffice.bundle/orvanoffice", root.path() / "bin" / "orvanoffice");
    const std::string bin = (root.path() / "bin").string();
    const std::string other = (root.path() / "other").string();

    const struct {
        const char* what;
        std::string searchPath;
        fs::path command;
    } cases[] = {
        {"the link", "/nonexistent:" + bin, root.path() / "bin" / "orvanoffice"},
        {"another program of that name comes first", other + ":" + bin, root.path() / "bin" / "orvanoffice"},
        {"only another program of that name", other, executable},
        {"no directory", "", executable},
        {"a relative directory", "bin", executable},
    };
    const fs::path previous = fs::current_path();
    fs::current_path(root.path());  // so that the relative "bin" would be found if it were used
    for (const auto& c : cases) EXPECT_EQ(installedCommand(executable, c.searchPath), c.command) << c.what;
    fs::current_path(previous);
}

}  // namespace
}  // namespace orvan
