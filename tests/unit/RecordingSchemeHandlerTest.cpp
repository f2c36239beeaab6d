#include <gtest/gtest.h>

#include "tests/support/TempDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "webhost/RecordingSchemeHandler.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using Handler = RecordingSchemeHandler;
using Headers = std::vector<std::pair<std::string, std::string>>;

// What the page's encodeURI does: UTF-8 bytes escaped, except letters, digits and the characters it
// leaves alone (reserved ones such as "/" included).
std::string encodeURI(const std::string& text) {
    static const std::string kKept = ";,/?:@&=+$-_.!~*'()#";
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alphanumeric || kKept.find(c) != std::string::npos) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        }
    }
    return out;
}

// A scratch tree: <tmp>/recordings (the root), <tmp>/recordings-old and files beside the root.
class RecordingSchemeHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = temp.path();
        root = base / "recordings";
        fs::create_directories(root);
    }

    static void write(const fs::path& path, const std::string& bytes) { testing::writeFile(path, bytes); }

    Handler handler(std::string origin = "https://app.tomoriva.jp") const {
        return Handler(root, [origin] { return origin; });
    }

    // A copy, so it outlives the result; a refusal shows as status 0 and body "<refused>".
    static Handler::Response served(const Handler::Result& result) {
        const auto* response = std::get_if<Handler::Response>(&result);
        return response != nullptr ? *response : Handler::Response{0, {}, "<refused>"};
    }

    static bool refused(const Handler::Result& result) {
        const auto* failure = std::get_if<Handler::Failure>(&result);
        return failure != nullptr && failure->code == -1100;
    }

    testing::TempDirectory temp{"orvan-rec-test"};
    fs::path base;
    fs::path root;
};

// Every byte value, NUL and high bytes included, so a text-mode or C-string read would show.
std::string allByteValues() {
    std::string bytes;
    for (int round = 0; round < 3; ++round)
        for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
    return bytes;
}

TEST_F(RecordingSchemeHandlerTest, ServesTheWholeFileWithExactlyThreeHeadersInOrder) {
    const std::string bytes = allByteValues();
    write(root / "2024-05-01" / "meeting.m4a", bytes);

    const auto result = handler().handle((root / "2024-05-01" / "meeting.m4a").string());

    ASSERT_TRUE(std::holds_alternative<Handler::Response>(result));
    const auto response = served(result);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.headers, (Headers{{"Content-Type", "audio/mp4"},
                                         {"Content-Length", std::to_string(bytes.size())},
                                         {"Access-Control-Allow-Origin", "https://app.tomoriva.jp"}}));
    EXPECT_EQ(response.body, bytes);
}

TEST_F(RecordingSchemeHandlerTest, EncodedSpacesAndJapaneseNamesResolveToTheFile) {
    const fs::path file = root / "営業 会議" / "録音 2024年5月1日.m4a";
    write(file, "japanese");
    const std::string encoded = encodeURI(file.string());
    // The encoded form really is escaped, as the page sends it.
    ASSERT_NE(encoded.find("%E5%96%B6%E6%A5%AD%20%E4%BC%9A%E8%AD%B0/"), std::string::npos) << encoded;

    EXPECT_EQ(served(handler().handle(encoded)).body, "japanese");
}

TEST_F(RecordingSchemeHandlerTest, ADoubleEncodedSpaceReachesTheNameWithASpace) {
    write(root / "with space.m4a", "space");
    write(root / "with%20space.m4a", "literal escape");

    // encodeURI of ".../with%20space.m4a" is ".../with%2520space.m4a": decoded twice, that is a space.
    const std::string encoded = encodeURI((root / "with%20space.m4a").string());
    ASSERT_NE(encoded.find("with%2520space.m4a"), std::string::npos) << encoded;

    EXPECT_EQ(served(handler().handle(encoded)).body, "space");
}

TEST_F(RecordingSchemeHandlerTest, AMalformedEscapeInTheNameKeepsTheOnceDecodedPath) {
    write(root / "bad%zz.m4a", "malformed");
    // A valid escape beside the malformed one stays as written: the second round is all or nothing.
    write(root / "a%41%zz.m4a", "mixed");
    write(root / "aA%zz.m4a", "partly decoded");

    EXPECT_EQ(served(handler().handle(encodeURI((root / "bad%zz.m4a").string()))).body, "malformed");
    EXPECT_EQ(served(handler().handle(encodeURI((root / "a%41%zz.m4a").string()))).body, "mixed");
    // Not escaped at all by the page: the first round fails too and the path is taken as given.
    EXPECT_EQ(served(handler().handle((root / "bad%zz.m4a").string())).body, "malformed");
}

TEST_F(RecordingSchemeHandlerTest, DotDotOutOfTheRootIsRefused) {
    write(base / "outside.m4a", "secret");
    write(root / "x" / "inside.m4a", "inside");
    const Handler scheme = handler();

    EXPECT_TRUE(refused(scheme.handle((root / "x" / ".." / ".." / "outside.m4a").string())));
    EXPECT_TRUE(refused(scheme.handle(root.string() + "/%2E%2E/outside.m4a")));
    EXPECT_TRUE(refused(scheme.handle(root.string() + "/%252E%252E/outside.m4a")));
    EXPECT_TRUE(refused(scheme.handle(root.string() + "/x/..%2F..%2Foutside.m4a")));
    // ".." that stays inside is fine.
    EXPECT_EQ(served(scheme.handle((root / "x" / ".." / "x" / "." / "inside.m4a").string())).body, "inside");
}

TEST_F(RecordingSchemeHandlerTest, ASiblingWhoseNameStartsLikeTheRootIsRefused) {
    write(base / "recordings-old" / "file.m4a", "old");
    EXPECT_TRUE(refused(handler().handle((base / "recordings-old" / "file.m4a").string())));
}

TEST_F(RecordingSchemeHandlerTest, TheRootItselfIsRefusedWithOrWithoutTrailingSlash) {
    write(root / "a.m4a", "a");
    const Handler scheme = handler();
    EXPECT_TRUE(refused(scheme.handle(root.string())));
    EXPECT_TRUE(refused(scheme.handle(root.string() + "/")));
    EXPECT_TRUE(refused(scheme.handle(root.string() + "//")));
    EXPECT_TRUE(refused(scheme.handle(root.string() + "/.")));
    EXPECT_TRUE(refused(scheme.handle(root.string() + "/sub/..")));
}

TEST_F(RecordingSchemeHandlerTest, ADirectoryOrAMissingFileInsideIsRefused) {
    fs::create_directories(root / "2024-05-01");
    const Handler scheme = handler();
    EXPECT_TRUE(refused(scheme.handle((root / "2024-05-01").string())));
    EXPECT_TRUE(refused(scheme.handle((root / "2024-05-01").string() + "/")));
    EXPECT_TRUE(refused(scheme.handle((root / "2024-05-01" / "missing.m4a").string())));
}

TEST_F(RecordingSchemeHandlerTest, ARelativePathIsRefused) {
    write(root / "a.m4a", "a");
    EXPECT_TRUE(refused(handler().handle("a.m4a")));
    EXPECT_TRUE(refused(handler().handle("")));
}

TEST_F(RecordingSchemeHandlerTest, AnEmptyFileIsServedWithLengthZero) {
    write(root / "empty.m4a", "");
    const auto result = handler().handle((root / "empty.m4a").string());
    ASSERT_TRUE(std::holds_alternative<Handler::Response>(result));
    EXPECT_EQ(served(result).status, 200);
    EXPECT_EQ(served(result).headers.at(1), (std::pair<std::string, std::string>{"Content-Length", "0"}));
    EXPECT_TRUE(served(result).body.empty());
}

TEST_F(RecordingSchemeHandlerTest, AnyExtensionIsLabelledAudioMp4) {
    write(root / "2024-05-01" / "system.f32", std::string(8, '\x01'));
    const auto response = served(handler().handle((root / "2024-05-01" / "system.f32").string()));
    EXPECT_EQ(response.headers.at(0), (std::pair<std::string, std::string>{"Content-Type", "audio/mp4"}));
    EXPECT_EQ(response.headers.at(1), (std::pair<std::string, std::string>{"Content-Length", "8"}));
}

TEST_F(RecordingSchemeHandlerTest, ALinkInsideThatLeadsOutsideIsRefused) {
    write(base / "outside.m4a", "secret");
    write(base / "elsewhere" / "other.m4a", "other secret");
    fs::create_symlink(base / "outside.m4a", root / "link.m4a");
    fs::create_symlink("../outside.m4a", root / "relative-link.m4a");
    fs::create_directory_symlink(base / "elsewhere", root / "linked-folder");
    const Handler scheme = handler();

    EXPECT_TRUE(refused(scheme.handle((root / "link.m4a").string())));
    EXPECT_TRUE(refused(scheme.handle((root / "relative-link.m4a").string())));
    EXPECT_TRUE(refused(scheme.handle((root / "linked-folder" / "other.m4a").string())));
}

TEST_F(RecordingSchemeHandlerTest, ALinkInsideThatLeadsInsideIsServed) {
    write(root / "2024-05-01" / "meeting.m4a", "target bytes");
    fs::create_symlink(root / "2024-05-01" / "meeting.m4a", root / "latest.m4a");
    fs::create_directory_symlink("2024-05-01", root / "today");
    const Handler scheme = handler();

    EXPECT_EQ(served(scheme.handle((root / "latest.m4a").string())).body, "target bytes");
    EXPECT_EQ(served(scheme.handle((root / "today" / "meeting.m4a").string())).body, "target bytes");
}

TEST_F(RecordingSchemeHandlerTest, ARootReachedThroughALinkStillServesItsFiles) {
    write(root / "a.m4a", "via link");
    fs::create_directory_symlink(root, base / "root-link");
    const Handler scheme(base / "root-link", [] { return std::string("https://app.tomoriva.jp"); });

    EXPECT_EQ(served(scheme.handle((base / "root-link" / "a.m4a").string())).body, "via link");
    // The link's target is not the configured path: lexically outside, so refused.
    EXPECT_TRUE(refused(scheme.handle((root / "a.m4a").string())));
}

TEST_F(RecordingSchemeHandlerTest, TheRootIsStandardisedBeforeComparing) {
    write(root / "a.m4a", "standardised");
    const Handler scheme(base / "unused" / ".." / "recordings" / "", [] { return std::string("o"); });
    EXPECT_EQ(served(scheme.handle((root / "a.m4a").string())).body, "standardised");
    EXPECT_TRUE(refused(scheme.handle(root.string() + "/")));
}

TEST_F(RecordingSchemeHandlerTest, TheAllowedOriginIsAskedForOnEveryRequest) {
    write(root / "a.m4a", "a");
    std::string origin = "http://127.0.0.1:8741";
    int asked = 0;
    const Handler scheme(root, [&] {
        ++asked;
        return origin;
    });

    EXPECT_EQ(served(scheme.handle((root / "a.m4a").string())).headers.at(2).second, "http://127.0.0.1:8741");
    origin = "https://preview.tomoriva.jp";
    EXPECT_EQ(served(scheme.handle((root / "a.m4a").string())).headers.at(2).second, "https://preview.tomoriva.jp");
    EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace orvan
