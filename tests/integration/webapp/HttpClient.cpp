#include "HttpClient.h"

#include <stdexcept>

namespace orvan::webapp::test {

MainContextScope::MainContextScope() : context_(g_main_context_new())
{
    g_main_context_push_thread_default(context_);
}

MainContextScope::~MainContextScope()
{
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
}

bool iterateUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    GMainContext* context = g_main_context_get_thread_default();
    bool expired = false;
    // A timer wakes the blocking iteration so a request that never completes cannot hang the test.
    GSource* timer = g_timeout_source_new(static_cast<guint>(timeout.count()));
    g_source_set_callback(
        timer,
        [](gpointer flag) {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(timer, context);
    while (!done() && !expired)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    return done();
}

std::optional<std::string> HttpResponse::header(const std::string& name) const
{
    for (const auto& [key, value] : headers) {
        if (g_ascii_strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    }
    return std::nullopt;
}

nlohmann::json HttpResponse::json() const
{
    return nlohmann::json::parse(body);
}

HttpClient::HttpClient(std::string userAgent, bool keepCookies) : session_(soup_session_new())
{
    soup_session_set_user_agent(session_.get(), userAgent.c_str());
    if (keepCookies) {
        GObjectPtr<SoupCookieJar> jar{soup_cookie_jar_new()};
        soup_session_add_feature(session_.get(), SOUP_SESSION_FEATURE(jar.get()));
    }
}

HttpClient::~HttpClient()
{
    soup_session_abort(session_.get());
}

HttpResponse HttpClient::get(const std::string& url, std::vector<std::pair<std::string, std::string>> headers)
{
    HttpRequest request;
    request.url = url;
    request.headers = std::move(headers);
    return send(request);
}

HttpResponse HttpClient::send(const HttpRequest& request)
{
    GObjectPtr<SoupMessage> message{soup_message_new(request.method.c_str(), request.url.c_str())};
    if (!message)
        throw std::runtime_error("not a valid URL: " + request.url);
    if (!request.followRedirects)
        soup_message_set_flags(message.get(), SOUP_MESSAGE_NO_REDIRECT);
    SoupMessageHeaders* headers = soup_message_get_request_headers(message.get());
    for (const auto& [name, value] : request.headers)
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    if (!request.body.empty() || !request.contentType.empty()) {
        BytesPtr bytes{g_bytes_new(request.body.data(), request.body.size())};
        soup_message_set_request_body_from_bytes(
            message.get(), request.contentType.empty() ? nullptr : request.contentType.c_str(), bytes.get());
    }

    struct Pending {
        SoupSession* session = nullptr;
        bool done = false;
        GBytes* body = nullptr;
        GError* error = nullptr;
    };
    // Shared with the callback, so a request abandoned on timeout can still complete safely later.
    auto pending = std::make_shared<Pending>();
    pending->session = session_.get();
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    soup_session_send_and_read_async(session_.get(), message.get(), G_PRIORITY_DEFAULT, cancellable.get(),
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Pending>> holder{static_cast<std::shared_ptr<Pending>*>(data)};
            auto& p = **holder;
            p.body = soup_session_send_and_read_finish(p.session, result, &p.error);
            p.done = true;
        },
        new std::shared_ptr<Pending>(pending));
    if (!iterateUntil([&] { return pending->done; }, std::chrono::seconds(10))) {
        g_cancellable_cancel(cancellable.get());
        throw std::runtime_error(request.method + " " + request.url + " got no answer within 10 s");
    }
    BytesPtr body{pending->body};
    ErrorPtr error{pending->error};
    if (error)
        throw std::runtime_error(request.method + " " + request.url + " failed: " + error->message);

    HttpResponse response;
    response.status = soup_message_get_status(message.get());
    if (body) {
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(body.get(), &size));
        if (data)
            response.body.assign(data, size);
    }
    soup_message_headers_foreach(
        soup_message_get_response_headers(message.get()),
        [](const char* name, const char* value, gpointer data) {
            static_cast<HttpResponse*>(data)->headers.emplace_back(name, value);
        },
        &response);
    return response;
}

}  // namespace orvan::webapp::test
