#include <gtest/gtest.h>

#include "plugin/Appcast.h"
#include "plugin/Version.h"

namespace orvan {
namespace {

TEST(AppcastTest, VersionsCompareComponentByComponent) {
    const struct {
        const char* left;
        const char* right;
        int order;
    } cases[] = {
        {"1.10", "1.9", 1},     {"1.9", "1.10", -1},   {"1.2", "1.2.0", 0},    {"1.2.1", "1.2", 1},
        {"2.0", "10.0", -1},    {"0.1.0", "0.1.0", 0}, {"2b", "2c", -1},       {"2", "2b", 1},
        {"1.0.0", "99.1", -1},  {"", "0", 0},          {"99999999999999999999999", "1", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " vs " + c.right);
        const int order = compareVersions(c.left, c.right);
        EXPECT_EQ((order > 0) - (order < 0), c.order);
    }
}

std::string feed(const std::string& items) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:k=\"https://tomoriva.jp/xmlns/kestrin-update\"><channel>" +
           items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& extra = " k:edSignature=\"c2ln\"",
                 const std::string& notes = "notes") {
    return "<item><title>v" + version + "</title><description>" + notes + "</description><enclosure url=\"https://x/" +
           version + ".tar.gz\" length=\"12\" type=\"application/gzip\" k:version=\"" + version + "\"" + extra + "/></item>";
}

TEST(AppcastTest, TheFeedOffersItsNewestSignedItem) {
    const struct {
        const char* name;
        std::string xml;
        std::optional<std::string> skipped;
        std::string offered;  // version; "" nothing; "error" unreadable
        std::string notes = "notes";
    } cases[] = {
        {"a newer item listed second", feed(item("1.0") + item("1.10")), std::nullopt, "1.10"},
        {"the newest listed first", feed(item("2.0") + item("1.5")), std::nullopt, "2.0"},
        {"nothing newer", feed(item("0.1.0") + item("0.0.9")), std::nullopt, ""},
        {"the newest without a signature is not offered", feed(item("1.5") + item("3.0", "")), std::nullopt, "1.5"},
        {"an item in another namespace's attributes is not signed", feed(item("3.0", " edSignature=\"c2ln\"")), std::nullopt, ""},
        {"the skipped newest", feed(item("1.5") + item("2.0")), "2.0", ""},
        {"a skipped older version does not hide a newer one", feed(item("2.0")), "1.5", "2.0"},
        {"HTML notes become their text", feed(item("2.0", " k:edSignature=\"c2ln\"", "<![CDATA[<p>速い<b>録音</b></p><ul><li>修正</li></ul><script>x()</script>]]>")),
         std::nullopt, "2.0", "速い録音\n・修正"},
        {"malformed XML", "<rss><channel><item>", std::nullopt, "error"},
        {"not RSS", "<?xml version=\"1.0\"?><feed/>", std::nullopt, "error"},
        {"an external entity is not fetched", "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" +
         feed(item("2.0", " k:edSignature=\"c2ln\"", "&e;")).substr(21), std::nullopt, "2.0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = Appcast::parse(c.xml);
        if (c.offered == "error") {
            EXPECT_TRUE(std::holds_alternative<std::string>(parsed));
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Appcast>(parsed)) << std::get<std::string>(parsed);
        const auto offer = std::get<Appcast>(parsed).newestAfter("0.1.0", c.skipped);
        EXPECT_EQ(offer ? offer->version : "", c.offered);
        if (offer) {
            EXPECT_EQ(offer->releaseNotes, c.notes);
            EXPECT_EQ(offer->url, "https://x/" + c.offered + ".tar.gz");
            EXPECT_EQ(offer->signature, "c2ln");
            EXPECT_EQ(offer->shortVersion, c.offered);
        }
    }
}

}  // namespace
}  // namespace orvan
