#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orvan {

// Serves finished meeting recordings to the page under "orvan-rec://file<absolute path>", so the page
// can read a recording's bytes with fetch() without the file ever leaving the recordings directory.
// Pure logic: the WebKit side lives in linux/webkit/RecordingSchemeAdapter.
class RecordingSchemeHandler {
public:
    static constexpr std::string_view kScheme = "orvan-rec";
    // The URL error code for "file does not exist"; every refusal carries it, so the page cannot tell
    // a path outside the recordings directory from a missing file.
    static constexpr int kFileDoesNotExist = -1100;

    // A served file: status 200, headers in the order they are to be sent, the whole file as body.
    struct Response {
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
    };
    // A refused request: no HTTP status, only a URL error code.
    struct Failure {
        int code = kFileDoesNotExist;
    };
    using Result = std::variant<Response, Failure>;

    // `recordingsRoot`: the directory whose files may be served. `allowedOrigin`: the origin allowed to
    // read them (the web application's), asked for on every request, since the app URL can change
    // while the shell runs.
    RecordingSchemeHandler(std::filesystem::path recordingsRoot, std::function<std::string()> allowedOrigin);

    // `encodedPath`: the request URL's path as the engine hands it over, still percent-encoded.
    // Host and scheme are not looked at. Never throws for a bad path or an unreadable file; those
    // give Failure.
    Result handle(std::string_view encodedPath) const;

    const std::filesystem::path& recordingsRoot() const { return root_; }

private:
    std::filesystem::path root_;
    std::function<std::string()> allowedOrigin_;
};

}  // namespace orvan
