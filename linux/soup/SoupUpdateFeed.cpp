#include "linux/soup/SoupUpdateFeed.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <memory>
#include <string>
#include <utility>

namespace orvan {
namespace {

std::string takeMessage(GError* error) {
    std::string message = error != nullptr ? error->message : "";
    g_clear_error(&error);
    return message;
}

bool isLoopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

// Not 2xx: the status line as the error.
std::optional<std::string> statusFailure(SoupMessage* message) {
    const guint status = soup_message_get_status(message);
    if (status >= 200 && status < 300) return std::nullopt;
    const char* reason = soup_message_get_reason_phrase(message);
    return "HTTP " + std::to_string(status) + (reason != nullptr && *reason != '\0' ? std::string(" ") + reason : "");
}

struct Download {
    ~Download() {
        if (out != nullptr) g_object_unref(out);
        if (in != nullptr) g_object_unref(in);
        g_object_unref(message);
        g_object_unref(session);
    }
    SoupSession* session;
    SoupMessage* message;
    std::function<void(double)> progress;
    std::function<void(std::optional<std::string>)> done;
    std::filesystem::path destination;
    GInputStream* in = nullptr;
    GOutputStream* out = nullptr;
    goffset total = -1;
    goffset received = 0;
};

void finish(Download* download, std::optional<std::string> error) {
    if (download->out != nullptr) g_output_stream_close(download->out, nullptr, nullptr);
    auto done = std::move(download->done);
    delete download;
    done(std::move(error));
}

void readNext(Download* download);

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto* download = static_cast<Download*>(data);
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (bytes == nullptr) return finish(download, takeMessage(error));
    gsize size = 0;
    const void* chunk = g_bytes_get_data(bytes, &size);
    if (size == 0) {
        g_bytes_unref(bytes);
        if (!g_output_stream_close(download->out, nullptr, &error)) return finish(download, takeMessage(error));
        return finish(download, std::nullopt);
    }
    const bool written = g_output_stream_write_all(download->out, chunk, size, nullptr, nullptr, &error);
    g_bytes_unref(bytes);
    if (!written) return finish(download, takeMessage(error));
    download->received += static_cast<goffset>(size);
    download->progress(download->total > 0 ? static_cast<double>(download->received) / static_cast<double>(download->total) : -1);
    readNext(download);
}

void readNext(Download* download) {
    g_input_stream_read_bytes_async(download->in, 64 * 1024, G_PRIORITY_DEFAULT, nullptr, &onRead, download);
}

void onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto* download = static_cast<Download*>(data);
    GError* error = nullptr;
    download->in = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (download->in == nullptr) return finish(download, takeMessage(error));
    if (auto failure = statusFailure(download->message)) return finish(download, std::move(failure));
    download->total = soup_message_headers_get_content_length(soup_message_get_response_headers(download->message));
    GFile* file = g_file_new_for_path(download->destination.c_str());
    GFileOutputStream* out = g_file_replace(file, nullptr, FALSE, G_FILE_CREATE_REPLACE_DESTINATION, nullptr, &error);
    g_object_unref(file);
    if (out == nullptr) return finish(download, takeMessage(error));
    download->out = G_OUTPUT_STREAM(out);
    readNext(download);
}

}  // namespace

SoupUpdateFeed::SoupUpdateFeed() : session_(soup_session_new()) {}

SoupUpdateFeed::~SoupUpdateFeed() { g_object_unref(session_); }

std::optional<std::string> SoupUpdateFeed::refusal(const std::string& url) {
    GError* error = nullptr;
    GUri* uri = g_uri_parse(url.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_ENCODED), &error);
    if (uri == nullptr) return "アドレスが正しくありません: " + takeMessage(error);
    // libsoup takes the same address; one it cannot use is refused here too.
    SoupMessage* probe = soup_message_new_from_uri(SOUP_METHOD_GET, uri);
    if (probe == nullptr) {
        g_uri_unref(uri);
        return "アドレスが正しくありません: " + url;
    }
    g_object_unref(probe);
    const std::string scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    const bool allowed = scheme == "https" || (scheme == "http" && host != nullptr && isLoopback(host));
    g_uri_unref(uri);
    if (allowed) return std::nullopt;
    return "HTTPS 以外のアドレスは使えません: " + url;
}

void SoupUpdateFeed::fetch(const std::string& url, std::function<void(Fetched)> done) {
    if (auto refused = refusal(url)) {
        done(Fetched{std::nullopt, *refused});
        return;
    }
    struct Fetch {
        SoupMessage* message;
        std::function<void(Fetched)> done;
    };
    auto* fetch = new Fetch{soup_message_new(SOUP_METHOD_GET, url.c_str()), std::move(done)};
    soup_session_send_and_read_async(
        session_, fetch->message, G_PRIORITY_DEFAULT, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Fetch> request(static_cast<Fetch*>(data));
            GError* error = nullptr;
            GBytes* bytes = soup_session_send_and_read_finish(SOUP_SESSION(source), result, &error);
            Fetched fetched;
            if (bytes == nullptr) {
                fetched.error = takeMessage(error);
            } else if (auto failure = statusFailure(request->message)) {
                fetched.error = *failure;
            } else {
                gsize size = 0;
                const auto* body = static_cast<const char*>(g_bytes_get_data(bytes, &size));
                fetched.body = std::string(body != nullptr ? body : "", size);
            }
            if (bytes != nullptr) g_bytes_unref(bytes);
            g_object_unref(request->message);
            request->done(std::move(fetched));
        },
        fetch);
}

void SoupUpdateFeed::download(const std::string& url, const std::filesystem::path& destination,
                              std::function<void(double)> progress, std::function<void(std::optional<std::string>)> done) {
    if (auto refused = refusal(url)) {
        done(*refused);
        return;
    }
    auto* download = new Download{static_cast<SoupSession*>(g_object_ref(session_)), soup_message_new(SOUP_METHOD_GET, url.c_str()),
                                  std::move(progress), std::move(done), destination};
    soup_session_send_async(download->session, download->message, G_PRIORITY_DEFAULT, nullptr, &onSent, download);
}

}  // namespace orvan
