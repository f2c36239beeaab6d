#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "linux/glib/JsonFileUserDefaults.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

using testing::TempDirectory;

TEST(JsonFileUserDefaultsTest, ValuesSurviveANewInstanceAndRemovalsToo) {
    TempDirectory temp;
    const auto file = temp.path() / "OrvanOffice" / "defaults.json";
    {
        JsonFileUserDefaults defaults(file);
        EXPECT_FALSE(defaults.string("apns.deviceToken.hex"));
        defaults.setString("apns.deviceToken.hex", "0aff");
        defaults.setString("apns.registeredToken.hex", "0aff");
        defaults.remove("apns.registeredToken.hex");
    }
    JsonFileUserDefaults reopened(file);
    EXPECT_EQ(reopened.string("apns.deviceToken.hex"), "0aff");
    EXPECT_FALSE(reopened.string("apns.registeredToken.hex"));
    EXPECT_EQ(nlohmann::json::parse(testing::readText(file)), (nlohmann::json{{"apns.deviceToken.hex", "0aff"}}));
}

TEST(JsonFileUserDefaultsTest, ACorruptFileCountsAsEmptyAndIsReplacedOnTheNextWrite) {
    TempDirectory temp;
    const auto file = temp.path() / "defaults.json";
    std::ofstream(file) << "{\"apns.deviceToken.hex\": \"0a";  // cut off mid-write by someone else
    JsonFileUserDefaults defaults(file);
    EXPECT_FALSE(defaults.string("apns.deviceToken.hex"));
    defaults.setString("meetingPopupOrigin", "10,20");
    EXPECT_EQ(nlohmann::json::parse(testing::readText(file)), (nlohmann::json{{"meetingPopupOrigin", "10,20"}}));
    std::ofstream(file) << R"({"OrvanEchoCancellation": false})";  // a switch written by hand
    EXPECT_EQ(JsonFileUserDefaults(file).string("OrvanEchoCancellation"), "false");
}

TEST(JsonFileUserDefaultsTest, ANonObjectOrUnwritableLocationNeverThrows) {
    TempDirectory temp;
    const auto file = temp.path() / "defaults.json";
    std::ofstream(file) << "[1, 2]";
    JsonFileUserDefaults defaults(file);
    EXPECT_FALSE(defaults.string("x"));
    // A directory where the file should be: the write fails quietly and the value is still served.
    JsonFileUserDefaults blocked(temp.path());
    EXPECT_NO_THROW(blocked.setString("x", "1"));
    EXPECT_EQ(blocked.string("x"), "1");
}

TEST(JsonFileUserDefaultsTest, WritesFromSeveralThreadsAndTwoInstancesAllLand) {
    TempDirectory temp;
    const auto file = temp.path() / "defaults.json";
    JsonFileUserDefaults defaults(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < 25; ++i) defaults.setString("k" + std::to_string(t) + "-" + std::to_string(i), "v");
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(nlohmann::json::parse(testing::readText(file)).size(), 100u);
    EXPECT_EQ(JsonFileUserDefaults(file).string("k3-24"), "v");
    // A second instance, as a second process would be, writing files of other lengths: no write is lost.
    const auto log = testing::CapturingLogSink::install();
    std::thread other([&file] {
        for (int i = 0; i < 200; ++i) JsonFileUserDefaults(file).setString("b", std::string(i % 2 ? 1 : 4000, 'v'));
    });
    for (int i = 0; i < 200; ++i) JsonFileUserDefaults(file).setString("a", std::string(i % 2 ? 4000 : 1, 'v'));
    other.join();
    EXPECT_EQ(log->lines().size(), 0u);
    setLogSink(nullptr);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 1) << "no temporary file is left";
}

}  // namespace
}  // namespace orvan
