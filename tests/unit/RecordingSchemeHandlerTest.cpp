#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempDirectory.h"
#include "webhost/RecordingSchemeHandler.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using Handler = RecordingSchemeHandler;
using Headers = std::vector<std::pair<std::string, std::string>>;

// One scratch tree for every case: <base>/recordings is the root; beside it a sibling whose name
// starts like the root, files outside, and links from inside the root to both sides.
class RecordingSchemeHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = temp.path();
        root = base / "recordings";
        using testing::writeFile;
        writeFile(root / "2024-05-01" / "meeting.m4a", "meeting");
        writeFile(root / "営業 会議" / "録音 2024年5月1日.m4a", "japanese");
        writeFile(root / "with space.m4a", "space");
        writeFile(root / "with%20space.m4a", "literal escape");
        writeFile(root / "bad%zz.m4a", "malformed");
        writeFile(root / "a%41%zz.m4a", "mixed");
        writeFile(root / "aA%zz.m4a", "partly decoded");
        writeFile(root / "x" / "inside.m4a", "inside");
        writeFile(base / "outside.m4a", "secret");
        writeFile(base / "elsewhere" / "other.m4a", "other secret");
        writeFile(base / "recordings-old" / "file.m4a", "old");
        fs::create_symlink(base / "outside.m4a", root / "link.m4a");
        fs::create_symlink("../outside.m4a", root / "relative-link.m4a");
        fs::create_directory_symlink(base / "elsewhere", root / "linked-folder");
        fs::create_symlink(root / "2024-05-01" / "meeting.m4a", root / "latest.m4a");
        fs::create_directory_symlink("2024-05-01", root / "today");
        fs::create_directory_symlink(root, base / "root-link");
    }

    // The body served for `request`, or "<refused>" for a refusal with the missing-file code.
    static std::string bodyOf(const Handler& handler, const std::string& request) {
        const auto result = handler.handle(request);
        if (const auto* failure = std::get_if<Handler::Failure>(&result))
            return failure->code == Handler::kFileDoesNotExist ? "<refused>" : "<other failure>";
        return std::get<Handler::Response>(result).body;
    }

    testing::TempDirectory temp{"orvan-rec-test"};
    fs::path base;
    fs::path root;
};

TEST_F(RecordingSchemeHandlerTest, ServesTheWholeFileWithExactlyThreeHeadersInOrder) {
    // Every byte value, NUL and high bytes included, so a text-mode or C-string read would show.
    std::string bytes;
    for (int value = 0; value < 768; ++value) bytes.push_back(static_cast<char>(value % 256));
    testing::writeFile(root / "all.f32", bytes);
    testing::writeFile(root / "empty.m4a", "");
    const Handler handler(root, [] { return std::string("https://app.tomoriva.jp"); });

    for (const auto& [name, content] : {std::pair{"all.f32", bytes}, std::pair{"empty.m4a", std::string()}}) {
        const auto result = handler.handle((root / name).string());
        ASSERT_TRUE(std::holds_alternative<Handler::Response>(result)) << name;
        const auto& response = std::get<Handler::Response>(result);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.headers, (Headers{{"Content-Type", "audio/mp4"},
                                             {"Content-Length", std::to_string(content.size())},
                                             {"Access-Control-Allow-Origin", "https://app.tomoriva.jp"}}));
        EXPECT_EQ(response.body, content);
    }
}

TEST_F(RecordingSchemeHandlerTest, WhatIsServedAndWhatIsRefused) {
    const Handler handler(root, [] { return std::string("o"); });
    const std::string r = root.string();
    const struct {
        std::string request;
        std::string body;
    } cases[] = {
        // As the page's encodeURI writes them: UTF-8 bytes and "%" escaped, "/" left alone.
        {r + "/%E5%96%B6%E6%A5%AD%20%E4%BC%9A%E8%AD%B0/%E9%8C%B2%E9%9F%B3%202024%E5%B9%B45%E6%9C%881%E6%97%A5.m4a", "japanese"},
        // ".../with%20space.m4a" escaped is "...%2520...": decoded twice, that is a space.
        {r + "/with%2520space.m4a", "space"},
        // A malformed escape keeps the once-decoded path; the second round is all or nothing.
        {r + "/bad%25zz.m4a", "malformed"},
        {r + "/a%2541%25zz.m4a", "mixed"},
        {(root / "bad%zz.m4a").string(), "malformed"},
        {(root / "x" / ".." / "x" / "." / "inside.m4a").string(), "inside"},
        {(root / "latest.m4a").string(), "meeting"},
        {(root / "today" / "meeting.m4a").string(), "meeting"},
        // Out of the root, however spelled.
        {(root / "x" / ".." / ".." / "outside.m4a").string(), "<refused>"},
        {r + "/%2E%2E/outside.m4a", "<refused>"},
        {r + "/%252E%252E/outside.m4a", "<refused>"},
        {r + "/x/..%2F..%2Foutside.m4a", "<refused>"},
        {(base / "recordings-old" / "file.m4a").string(), "<refused>"},
        {(root / "link.m4a").string(), "<refused>"},
        {(root / "relative-link.m4a").string(), "<refused>"},
        {(root / "linked-folder" / "other.m4a").string(), "<refused>"},
        // The root itself, directories, missing files and relative paths.
        {r, "<refused>"},
        {r + "/", "<refused>"},
        {r + "//", "<refused>"},
        {r + "/.", "<refused>"},
        {r + "/x/..", "<refused>"},
        {(root / "2024-05-01").string() + "/", "<refused>"},
        {(root / "2024-05-01" / "missing.m4a").string(), "<refused>"},
        {"meeting.m4a", "<refused>"},
        {"", "<refused>"},
    };
    for (const auto& c : cases) EXPECT_EQ(bodyOf(handler, c.request), c.body) << c.request;
}

TEST_F(RecordingSchemeHandlerTest, TheRootIsComparedAsConfiguredAfterStandardising) {
    const Handler viaLink(base / "root-link", [] { return std::string("o"); });
    EXPECT_EQ(bodyOf(viaLink, (base / "root-link" / "latest.m4a").string()), "meeting");
    // The link's target is not the configured path: lexically outside, so refused.
    EXPECT_EQ(bodyOf(viaLink, (root / "latest.m4a").string()), "<refused>");

    const Handler unstandardised(base / "unused" / ".." / "recordings" / "", [] { return std::string("o"); });
    EXPECT_EQ(bodyOf(unstandardised, (root / "latest.m4a").string()), "meeting");
    EXPECT_EQ(bodyOf(unstandardised, root.string() + "/"), "<refused>");
}

}  // namespace
}  // namespace orvan
