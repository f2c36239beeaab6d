#include "webhost/RecordingSchemeHandler.h"

#include <glib.h>

#include <fstream>
#include <optional>
#include <system_error>

namespace orvan {

namespace fs = std::filesystem;

namespace {

// One round of percent-decoding; nullopt for a malformed escape or an escaped NUL (no file name
// can hold one).
std::optional<std::string> percentDecoded(const std::string& text) {
    char* decoded = g_uri_unescape_string(text.c_str(), nullptr);
    if (decoded == nullptr) return std::nullopt;
    std::string result(decoded);
    g_free(decoded);
    return result;
}

// The engine hands over the path still encoded, so the first round is what a URL parser would have
// done; the page's encodeURI may meet names that were already escaped, hence a second round. A round
// that meets a malformed escape leaves the text as it was (a literal '%' in a file name).
std::string decodedRequestPath(std::string_view encoded) {
    const std::string raw(encoded);
    const std::string once = percentDecoded(raw).value_or(raw);
    return percentDecoded(once).value_or(once);
}

// "." and ".." resolved without touching the disk, and no trailing slash, so "<root>/" reads as the
// root itself and not as something inside it.
std::string standardised(const fs::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

// The prefix every served path must start with: the directory followed by "/", so that a sibling
// such as "recordings-old" does not count as inside.
std::string directoryPrefix(const std::string& directory) {
    return directory.ends_with('/') ? directory : directory + "/";
}

bool isInside(const std::string& path, const std::string& directory) {
    return path.starts_with(directoryPrefix(directory));
}

// Resolves symbolic links of every existing component, so a link inside the recordings directory is
// judged by where it leads.
std::optional<std::string> resolved(const fs::path& path) {
    std::error_code error;
    const fs::path real = fs::weakly_canonical(path, error);
    if (error) return std::nullopt;
    return standardised(real);
}

// The whole file in one read; nullopt for anything but a readable regular file.
std::optional<std::string> contentsOf(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string body(static_cast<std::size_t>(size), '\0');
    if (size > 0 && !file.read(body.data(), static_cast<std::streamsize>(size))) return std::nullopt;
    return body;
}

}  // namespace

RecordingSchemeHandler::RecordingSchemeHandler(fs::path recordingsRoot, std::function<std::string()> allowedOrigin)
    : root_(std::move(recordingsRoot)), allowedOrigin_(std::move(allowedOrigin)) {}

RecordingSchemeHandler::Result RecordingSchemeHandler::handle(std::string_view encodedPath) const {
    const std::string path = standardised(fs::path(decodedRequestPath(encodedPath)));
    if (!path.starts_with('/') || !isInside(path, standardised(root_))) return Failure{};

    // Lexically inside is not enough: a link placed in the directory could lead anywhere. Both sides
    // are resolved now rather than once, since the directory may be created or moved while we run.
    const auto realRoot = resolved(root_);
    const auto realPath = resolved(fs::path(path));
    if (!realRoot || !realPath || !isInside(*realPath, *realRoot)) return Failure{};

    // Read what was checked, not the link, so the file served is the one found inside.
    auto body = contentsOf(fs::path(*realPath));
    if (!body) return Failure{};

    Response response;
    response.status = 200;
    // The page plays recordings as AAC in MPEG-4 whatever the file is called.
    response.headers.emplace_back("Content-Type", "audio/mp4");
    response.headers.emplace_back("Content-Length", std::to_string(body->size()));
    response.headers.emplace_back("Access-Control-Allow-Origin", allowedOrigin_ ? allowedOrigin_() : std::string());
    response.body = std::move(*body);
    return response;
}

}  // namespace orvan
