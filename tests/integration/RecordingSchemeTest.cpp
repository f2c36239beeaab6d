#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/integration/ShellWindowFixture.h"
#include "tests/support/TempDirectory.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

// What the page does with a recording: fetch it by path and read every byte. The result reports
// what the page could see, with a checksum (32-bit FNV-1a) of the bytes it received.
constexpr const char* kFetchRecording = R"JS(
try {
    const response = await fetch('orvan-rec://file' + encodeURI(path));
    const bytes = new Uint8Array(await response.arrayBuffer());
    let hash = 0x811c9dc5;
    for (const byte of bytes) hash = Math.imul(hash ^ byte, 0x01000193) >>> 0;
    return {ok: true, status: response.status, type: response.headers.get('content-type'),
            length: response.headers.get('content-length'), received: bytes.length, hash: hash};
} catch (error) {
    return {ok: false, error: error.name};
}
)JS";

std::uint32_t fnv1a(const std::string& bytes) {
    std::uint32_t hash = 0x811c9dc5u;
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x01000193u;
    return hash;
}

// Bytes that a text decoding, a NUL terminator or a truncated read would change.
std::string recordingBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

using RecordingSchemeTest = ShellWindowFixture;

// The path rules are the handler's (unit-tested); here: the engine delivers every byte of a file
// under a Japanese path with spaces to the shell's page (plain http, another origin than the
// scheme's); a refusal, by path or by origin (asked for each time), reaches the page as a failed
// fetch; registering again keeps one registration, answered by the new handler.
TEST_F(RecordingSchemeTest, ThePageReadsTheWholeFileAndOnlyWhatTheHandlerAllows) {
    const fs::path root = recordings();
    const std::string bytes = recordingBytes(300000);
    const fs::path file = root / "営業 会議" / "録音 2024年5月1日 (1).m4a";
    writeFile(file, bytes);
    writeFile(root.parent_path() / "outside.m4a", "secret");
    WebKitWebView* view = open();
    const auto fetchFromPage = [&](const fs::path& path) { return callAsync(view, kFetchRecording, {{"path", path}}); };

    const auto result = fetchFromPage(file);
    ASSERT_EQ(result.value("ok", false), true) << result.dump();
    EXPECT_EQ(result["status"], 200);
    EXPECT_EQ(result["type"], "audio/mp4");
    EXPECT_EQ(result["length"], std::to_string(bytes.size()));
    EXPECT_EQ(result["received"], bytes.size());
    EXPECT_EQ(result["hash"], fnv1a(bytes));

    const auto refused = fetchFromPage(root / ".." / "outside.m4a");
    EXPECT_EQ(refused.value("ok", true), false) << refused.dump();
    EXPECT_EQ(refused.value("error", ""), "TypeError");

    writeFile(root / "a.m4a", "first root");
    const std::string pageOrigin = allowedOrigin();
    allowedOrigin() = "https://app.tomoriva.jp";
    EXPECT_EQ(fetchFromPage(root / "a.m4a").value("error", ""), "TypeError");
    allowedOrigin() = pageOrigin;
    EXPECT_EQ(fetchFromPage(root / "a.m4a").value("received", -1), 10);

    // A second registration of the same scheme would be a critical warning from the engine.
    TempDirectory second("orvan-rec-it");
    writeFile(second.path() / "a.m4a", "second root");
    int warnings = 0;
    const guint logHandler = g_log_set_handler(
        nullptr, static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
        [](const gchar*, GLogLevelFlags, const gchar*, gpointer count) { ++*static_cast<int*>(count); }, &warnings);
    factory()->serveRecordings(std::make_shared<RecordingSchemeHandler>(second.path(), [] { return allowedOrigin(); }));
    g_log_remove_handler(nullptr, logHandler);
    EXPECT_EQ(warnings, 0);
    EXPECT_EQ(fetchFromPage(second.path() / "a.m4a").value("received", -1), 11);
    EXPECT_EQ(fetchFromPage(root / "a.m4a").value("ok", true), false);

    factory()->serveRecordings(std::make_shared<RecordingSchemeHandler>(root, [] { return allowedOrigin(); }));
    fs::remove_all(root);
    fs::remove(root.parent_path() / "outside.m4a");
}

}  // namespace
}  // namespace orvan
