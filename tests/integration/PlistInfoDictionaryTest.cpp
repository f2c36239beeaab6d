#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "linux/plist/PlistInfoDictionary.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

TEST(PlistInfoDictionaryTest, OnlyAStringValueCountsAndTheFileIsReadAnewOnEveryLookup) {
    testing::TempDirectory temp{"orvan-plist"};
    const auto file = temp.path() / "Info.plist";
    const PlistInfoDictionary info(file);
    const struct {
        std::string content;
        std::optional<std::string> value;
    } cases[] = {
        {"<dict><key>OrvanAppURL</key><string>http://127.0.0.1:8741/</string></dict>", "http://127.0.0.1:8741/"},
        {"<dict><key>OrvanAppURL</key><string>http://two.test/</string></dict>", "http://two.test/"},
        {"<dict><key>OrvanAppURL</key><integer>42</integer></dict>", std::nullopt},
        {"<dict><key>OrvanAppURL</key><true/></dict>", std::nullopt},
        {"<dict><key>Other</key><string>x</string></dict>", std::nullopt},
        {"<array><string>OrvanAppURL</string></array>", std::nullopt},
    };
    for (const auto& c : cases) {
        std::ofstream(file) << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)" << c.content
                            << "</plist>\n";
        EXPECT_EQ(info.stringValue("OrvanAppURL"), c.value) << c.content;
    }
    std::ofstream(file) << "this is not a plist";
    EXPECT_FALSE(info.stringValue("OrvanAppURL"));
    std::filesystem::remove(file);
    EXPECT_FALSE(info.stringValue("OrvanAppURL"));
}

}  // namespace
}  // namespace orvan
