#include "linux/webkit/RecordingSchemeAdapter.h"

#include <exception>
#include <string>
#include <utility>

#include <libsoup/soup.h>

#include "platform/SystemLog.h"
#include "linux/glib/GObjectPtr.h"

namespace orvan {

namespace {

// Where a context keeps its registration, so a second call finds it instead of registering again.
constexpr const char* kRegistrationKey = "orvan-recording-scheme-registration";
constexpr const char* kNotFoundMessage = "ファイルが見つかりません";

// Owned by the context's scheme registration: freed when the context goes.
struct Registration {
    std::shared_ptr<const RecordingSchemeHandler> handler;
};

struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GBytesDeleter {
    void operator()(GBytes* bytes) const { g_bytes_unref(bytes); }
};
struct SoupMessageHeadersDeleter {
    void operator()(SoupMessageHeaders* headers) const { soup_message_headers_unref(headers); }
};

void finishWithError(WebKitURISchemeRequest* request, GIOErrorEnum code) {
    std::unique_ptr<GError, GErrorDeleter> error(g_error_new_literal(G_IO_ERROR, code, kNotFoundMessage));
    webkit_uri_scheme_request_finish_error(request, error.get());
}

void finish(WebKitURISchemeRequest* request, const RecordingSchemeHandler::Failure& failure) {
    finishWithError(request, failure.code == RecordingSchemeHandler::kFileDoesNotExist ? G_IO_ERROR_NOT_FOUND
                                                                                          : G_IO_ERROR_FAILED);
}

void finish(WebKitURISchemeRequest* request, RecordingSchemeHandler::Response& answer) {
    // Recordings can be large: the stream reads the handler's buffer in place instead of a copy.
    auto* body = new std::string(std::move(answer.body));
    const gsize length = body->size();
    std::unique_ptr<GBytes, GBytesDeleter> bytes(g_bytes_new_with_free_func(
        body->data(), length, [](gpointer data) { delete static_cast<std::string*>(data); }, body));
    auto stream = GObjectPtr<GInputStream>::take(g_memory_input_stream_new_from_bytes(bytes.get()));

    auto response = GObjectPtr<WebKitURISchemeResponse>::take(
        webkit_uri_scheme_response_new(stream.get(), static_cast<gint64>(length)));
    webkit_uri_scheme_response_set_status(response.get(), static_cast<guint>(answer.status),
                                          soup_status_get_phrase(static_cast<guint>(answer.status)));
    // Content-Type goes in with the other headers: once headers are set, a separate content type is
    // not what the page sees.
    std::unique_ptr<SoupMessageHeaders, SoupMessageHeadersDeleter> headers(
        soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE));
    for (const auto& [name, value] : answer.headers)
        soup_message_headers_append(headers.get(), name.c_str(), value.c_str());
    webkit_uri_scheme_response_set_http_headers(response.get(), headers.release());
    webkit_uri_scheme_request_finish_with_response(request, response.get());
}

void onRequest(WebKitURISchemeRequest* request, gpointer data) {
    // Every request is finished exactly once, and nothing is thrown back into the engine.
    try {
        const auto handler = static_cast<Registration*>(data)->handler;
        if (!handler) {
            finishWithError(request, G_IO_ERROR_NOT_FOUND);
            return;
        }
        const char* path = webkit_uri_scheme_request_get_path(request);
        auto result = handler->handle(path != nullptr ? path : "");
        std::visit([request](auto& outcome) { finish(request, outcome); }, result);
    } catch (const std::exception& exception) {
        systemLog(std::string("orvan-rec: ") + exception.what());
        finishWithError(request, G_IO_ERROR_FAILED);
    } catch (...) {
        systemLog("orvan-rec: unknown failure");
        finishWithError(request, G_IO_ERROR_FAILED);
    }
}

}  // namespace

void registerRecordingScheme(WebKitWebContext* context, std::shared_ptr<const RecordingSchemeHandler> handler) {
    if (auto* existing = static_cast<Registration*>(g_object_get_data(G_OBJECT(context), kRegistrationKey))) {
        existing->handler = std::move(handler);
        return;
    }
    const std::string scheme(RecordingSchemeHandler::kScheme);
    auto* registration = new Registration{std::move(handler)};
    // The context owns the registration (destroy notify); the key only finds it again.
    g_object_set_data(G_OBJECT(context), kRegistrationKey, registration);
    webkit_web_context_register_uri_scheme(context, scheme.c_str(), onRequest, registration,
                                           [](gpointer data) { delete static_cast<Registration*>(data); });
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
}

}  // namespace orvan
