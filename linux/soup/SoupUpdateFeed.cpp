#include "linux/soup/SoupUpdateFeed.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <libsoup/soup.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <variant>

#include "linux/glib/GObjectPtr.h"
#include "platform/PrivateFiles.h"

namespace orvan {
namespace {

constexpr int kMaxRedirects = 5;
constexpr gsize kChunkBytes = 64 * 1024;

std::string takeMessage(GError* error) {
    std::string message = error != nullptr ? error->message : "";
    g_clear_error(&error);
    return message;
}

// A server that stopped answering says so in the user's words, with how long it was given.
std::string takeFailure(GError* error, guint timeoutSeconds) {
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return takeMessage(error);
    g_clear_error(&error);
    return "サーバーから " + std::to_string(timeoutSeconds) + " 秒間応答がありません";
}

// Only the literal loopback addresses (127.0.0.0/8, ::1) and "localhost": a name that merely begins
// with "127." is anybody's.
bool isLoopback(const char* host) {
    if (g_ascii_strcasecmp(host, "localhost") == 0) return true;
    GInetAddress* address = g_inet_address_new_from_string(host);
    if (address == nullptr) return false;
    const bool loopback = g_inet_address_get_is_loopback(address) != FALSE;
    g_object_unref(address);
    return loopback;
}

enum class Scheme { https, plainToThisMachine };
using AddressKind = std::variant<Scheme, std::string>;

// What kind of address `url` is, or why it is never asked. `request`, when given, receives the GET
// for an address that may be asked: made from the very parse checked here, so it cannot fail later.
AddressKind classify(const std::string& url, SoupMessage** request = nullptr) {
    GError* error = nullptr;
    GUri* uri = g_uri_parse(url.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_ENCODED), &error);
    if (uri == nullptr) return "アドレスが正しくありません: " + takeMessage(error);
    auto message = GObjectPtr<SoupMessage>::take(soup_message_new_from_uri(SOUP_METHOD_GET, uri));
    const std::string scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    const bool plain = scheme == "http" && host != nullptr && isLoopback(host);
    g_uri_unref(uri);
    // libsoup cannot use every address GLib parses.
    if (!message) return "アドレスが正しくありません: " + url;
    if (scheme != "https" && !plain) return "HTTPS 以外のアドレスは使えません: " + url;
    if (request != nullptr) *request = message.release();
    return scheme == "https" ? Scheme::https : Scheme::plainToThisMachine;
}

// Not 2xx: the status line as the error.
std::optional<std::string> statusFailure(SoupMessage* message) {
    const guint status = soup_message_get_status(message);
    if (status >= 200 && status < 300) return std::nullopt;
    const char* reason = soup_message_get_reason_phrase(message);
    return "HTTP " + std::to_string(status) + (reason != nullptr && *reason != '\0' ? std::string(" ") + reason : "");
}

// One GET. Redirects are followed here, not by libsoup, so that every address on the way is checked
// before it is asked; the body goes to `sink` piece by piece and is cut off past `limit` bytes.
struct Transfer {
    using Sink = std::function<std::optional<std::string>(const void*, gsize)>;

    ~Transfer() {
        if (in != nullptr) g_object_unref(in);
        if (message != nullptr) g_object_unref(message);
        g_object_unref(session);
    }
    SoupSession* session;
    guint timeoutSeconds;
    bool plainAllowed;  // the configured feed is itself plain HTTP to this machine
    std::string url;
    std::uint64_t limit;
    std::string tooLarge;  // the error when the body is longer than `limit`
    Sink sink;
    std::function<void(double)> progress;
    std::function<void(std::optional<std::string>)> finished;
    SoupMessage* message = nullptr;
    GInputStream* in = nullptr;
    int redirects = 0;
    bool secure = false;  // an address on the way was HTTPS: plain HTTP is never asked after it
    goffset total = -1;
    std::uint64_t received = 0;
};

void finish(Transfer* transfer, std::optional<std::string> error) {
    auto finished = std::move(transfer->finished);
    delete transfer;
    finished(std::move(error));
}

void send(Transfer* transfer);

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto* transfer = static_cast<Transfer*>(data);
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (bytes == nullptr) return finish(transfer, takeFailure(error, transfer->timeoutSeconds));
    gsize size = 0;
    const void* chunk = g_bytes_get_data(bytes, &size);
    if (size == 0) {
        g_bytes_unref(bytes);
        return finish(transfer, std::nullopt);
    }
    auto failure =
        size > transfer->limit - transfer->received ? std::optional(transfer->tooLarge) : transfer->sink(chunk, size);
    g_bytes_unref(bytes);
    if (failure) return finish(transfer, std::move(failure));
    transfer->received += size;
    const double total = static_cast<double>(transfer->total);
    transfer->progress(transfer->total > 0 ? static_cast<double>(transfer->received) / total : -1);
    g_input_stream_read_bytes_async(transfer->in, kChunkBytes, G_PRIORITY_DEFAULT, nullptr, &onRead, transfer);
}

// Moves the transfer on to the address a redirect names; why not, when it cannot.
std::optional<std::string> followRedirect(Transfer* transfer) {
    const char* location =
        soup_message_headers_get_one(soup_message_get_response_headers(transfer->message), "Location");
    if (location == nullptr) return statusFailure(transfer->message);
    if (transfer->redirects >= kMaxRedirects) return std::string("転送が多すぎます");
    GError* error = nullptr;
    GUri* next = g_uri_parse_relative(soup_message_get_uri(transfer->message), location,
                                      static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), &error);
    if (next == nullptr) return "アドレスが正しくありません: " + takeMessage(error);
    gchar* text = g_uri_to_string(next);
    transfer->url = text;
    g_free(text);
    g_uri_unref(next);
    ++transfer->redirects;
    return std::nullopt;
}

void onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto* transfer = static_cast<Transfer*>(data);
    GError* error = nullptr;
    transfer->in = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (transfer->in == nullptr) return finish(transfer, takeFailure(error, transfer->timeoutSeconds));
    if (SOUP_STATUS_IS_REDIRECTION(soup_message_get_status(transfer->message))) {
        if (auto failure = followRedirect(transfer)) return finish(transfer, std::move(failure));
        return send(transfer);
    }
    if (auto failure = statusFailure(transfer->message)) return finish(transfer, std::move(failure));
    transfer->total = soup_message_headers_get_content_length(soup_message_get_response_headers(transfer->message));
    // Said too long already: nothing of it is read.
    if (transfer->total > 0 && static_cast<std::uint64_t>(transfer->total) > transfer->limit) {
        return finish(transfer, transfer->tooLarge);
    }
    g_input_stream_read_bytes_async(transfer->in, kChunkBytes, G_PRIORITY_DEFAULT, nullptr, &onRead, transfer);
}

void send(Transfer* transfer) {
    if (transfer->in != nullptr) g_clear_object(&transfer->in);
    if (transfer->message != nullptr) g_clear_object(&transfer->message);
    // Plain HTTP only where the configured feed itself is plain HTTP to this machine (a local test
    // server), and never after HTTPS: neither an HTTPS feed nor a redirect on its host can point the
    // desktop at a local service, nor can a local user's port stand in for the feed.
    const auto kind = classify(transfer->url, &transfer->message);
    if (const auto* refused = std::get_if<std::string>(&kind)) return finish(transfer, *refused);
    if (std::get<Scheme>(kind) == Scheme::https) {
        transfer->secure = true;
    } else if (!transfer->plainAllowed || transfer->secure) {
        return finish(transfer, "HTTPS 以外のアドレスは使えません: " + transfer->url);
    }
    soup_message_add_flags(transfer->message, SOUP_MESSAGE_NO_REDIRECT);
    soup_session_send_async(transfer->session, transfer->message, G_PRIORITY_DEFAULT, nullptr, &onSent, transfer);
}

}  // namespace

SoupUpdateFeed::SoupUpdateFeed(const std::string& feedUrl, std::chrono::seconds stallTimeout)
    : timeoutSeconds_(static_cast<unsigned>(stallTimeout.count())),
      plainAllowed_(classify(feedUrl) == AddressKind(Scheme::plainToThisMachine)),
      // A server that takes the connection and then says nothing ends the check or the download
      // after a while of silence, rather than holding every later one back.
      session_(soup_session_new_with_options("timeout", timeoutSeconds_, nullptr)) {}

SoupUpdateFeed::~SoupUpdateFeed() { g_object_unref(session_); }

void SoupUpdateFeed::fetch(const std::string& url, std::function<void(Fetched)> done) {
    auto body = std::make_shared<std::string>();
    send(new Transfer{
        .session = static_cast<SoupSession*>(g_object_ref(session_)),
        .timeoutSeconds = timeoutSeconds_,
        .plainAllowed = plainAllowed_,
        .url = url,
        .limit = kMaxFeedBytes,
        .tooLarge = "アップデート情報が大きすぎます（" + std::to_string(kMaxFeedBytes / 1024) + " KiB まで）",
        .sink = [body](const void* chunk, gsize size) {
            body->append(static_cast<const char*>(chunk), size);
            return std::optional<std::string>();
        },
        .progress = [](double) {},
        .finished = [body, done = std::move(done)](std::optional<std::string> error) {
            done(error ? Fetched{std::nullopt, *error} : Fetched{std::move(*body), {}});
        },
    });
}

void SoupUpdateFeed::download(const std::string& url, std::uint64_t maxBytes, const std::filesystem::path& destination,
                              std::function<void(double)> progress, std::function<void(std::optional<std::string>)> done) {
    const int fd = private_files::open(destination, O_WRONLY | O_TRUNC);
    if (fd < 0) {
        done(std::string(std::strerror(errno)));
        return;
    }
    send(new Transfer{
        .session = static_cast<SoupSession*>(g_object_ref(session_)),
        .timeoutSeconds = timeoutSeconds_,
        .plainAllowed = plainAllowed_,
        .url = url,
        .limit = maxBytes,
        .tooLarge = "ファイルがアップデート情報の大きさ（" + std::to_string(maxBytes) + " バイト）を超えています",
        .sink = [fd](const void* chunk, gsize size) -> std::optional<std::string> {
            const auto error = private_files::writeAll(fd, std::string_view(static_cast<const char*>(chunk), size));
            return error ? std::optional(error.message()) : std::nullopt;
        },
        .progress = std::move(progress),
        .finished = [fd, done = std::move(done)](std::optional<std::string> error) {
            if (::close(fd) != 0 && !error) error = std::strerror(errno);
            done(std::move(error));
        },
    });
}

}  // namespace orvan
