#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <libsoup/soup.h>
#include <nlohmann/json.hpp>

namespace orvan::webapp::test {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GBytesUnref {
    void operator()(GBytes* bytes) const { g_bytes_unref(bytes); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using BytesPtr = std::unique_ptr<GBytes, GBytesUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// A fresh GMainContext made thread-default for the scope's lifetime, so each test's server and
// client share a loop that no other test has touched.
class MainContextScope {
public:
    MainContextScope();
    ~MainContextScope();
    MainContextScope(const MainContextScope&) = delete;
    MainContextScope& operator=(const MainContextScope&) = delete;
    GMainContext* get() const { return context_; }

private:
    GMainContext* context_;
};

// Iterates the thread-default context until `done` holds or `timeout` passes; false on timeout.
bool iterateUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

struct HttpResponse {
    unsigned status = 0;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    std::optional<std::string> header(const std::string& name) const;
    nlohmann::json json() const;  // throws when the body is not JSON
};

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::string body;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    bool followRedirects = true;
};

// A libsoup client driven by the thread-default main context: the in-process server answers
// while this waits, because both are served by the same loop.
class HttpClient {
public:
    explicit HttpClient(std::string userAgent = "OrvanWebappTest/1.0", bool keepCookies = false);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Throws std::runtime_error on a transport failure or after 10 s without an answer.
    HttpResponse send(const HttpRequest& request);
    HttpResponse get(const std::string& url, std::vector<std::pair<std::string, std::string>> headers = {});

private:
    GObjectPtr<SoupSession> session_;
};

}  // namespace orvan::webapp::test
