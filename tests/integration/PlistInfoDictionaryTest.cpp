#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/AppConfig.h"
#include "tests/support/TempDirectory.h"
#include "platform/linux/PlistInfoDictionary.h"

namespace orvan {
namespace {

class PlistInfoDictionaryTest : public ::testing::Test {
protected:

    std::shared_ptr<PlistInfoDictionary> write(const std::string& body) {
        std::ofstream(dir / "Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>)" << body << "</dict></plist>\n";
        return std::make_shared<PlistInfoDictionary>(dir / "Info.plist");
    }

    testing::TempDirectory temp{"orvan-plist"};
    std::filesystem::path dir = temp.path();
};

TEST_F(PlistInfoDictionaryTest, ReadsAStringValue) {
    auto info = write("<key>OrvanAppURL</key><string>http://127.0.0.1:8741/</string>");
    EXPECT_EQ(info->stringValue("OrvanAppURL"), "http://127.0.0.1:8741/");
    EXPECT_EQ(AppConfig(info).appURL().string(), "http://127.0.0.1:8741/");
}

TEST_F(PlistInfoDictionaryTest, NumbersBooleansMissingKeysAndBrokenFilesGiveTheProductionOrigin) {
    EXPECT_FALSE(write("<key>OrvanAppURL</key><integer>42</integer>")->stringValue("OrvanAppURL"));
    EXPECT_EQ(AppConfig(write("<key>OrvanAppURL</key><true/>")).appURL().string(), AppConfig::kProductionOrigin);
    EXPECT_EQ(AppConfig(write("<key>OrvanAppURL</key><string></string>")).appURL().string(),
              AppConfig::kProductionOrigin);
    EXPECT_EQ(AppConfig(write("<key>Other</key><string>x</string>")).appURL().string(), AppConfig::kProductionOrigin);
    std::ofstream(dir / "Info.plist") << "this is not a plist";
    EXPECT_FALSE(PlistInfoDictionary(dir / "Info.plist").stringValue("OrvanAppURL"));
    EXPECT_FALSE(PlistInfoDictionary(dir / "missing.plist").stringValue("OrvanAppURL"));
}

TEST_F(PlistInfoDictionaryTest, IsReadAnewOnEveryLookup) {
    auto info = write("<key>OrvanAppURL</key><string>http://one.test/</string>");
    EXPECT_EQ(info->stringValue("OrvanAppURL"), "http://one.test/");
    write("<key>OrvanAppURL</key><string>http://two.test/</string>");
    EXPECT_EQ(info->stringValue("OrvanAppURL"), "http://two.test/");
}

TEST(BuiltBundleTest, CarriesInfoPlistAndAnEmptyPlugInsFolder) {
    const std::filesystem::path bundle = ORVAN_BUNDLE_DIR;
    EXPECT_TRUE(std::filesystem::is_regular_file(bundle / "orvanoffice"));
    EXPECT_TRUE(std::filesystem::is_directory(bundle / "PlugIns"));
    const PlistInfoDictionary info(bundle / "Info.plist");
    EXPECT_EQ(info.stringValue("CFBundleIdentifier"), "jp.tomoriva.OrvanOffice");
}

}  // namespace
}  // namespace orvan
