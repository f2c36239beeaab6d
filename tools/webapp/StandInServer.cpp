#include "tools/webapp/StandInServer.h"

#include <exception>
#include <stdexcept>

#include <gio/gio.h>
#include <libsoup/soup.h>

#include "tools/webapp/AppState.h"
#include "tools/webapp/GRef.h"
#include "tools/webapp/Routes.h"

namespace orvan::webapp {
namespace {

Request readRequest(SoupServerMessage* message)
{
    Request request;
    request.method = soup_server_message_get_method(message);
    GUri* uri = soup_server_message_get_uri(message);
    request.path = g_uri_get_path(uri);
    if (const char* query = g_uri_get_query(uri))
        request.query = query;

    soup_message_headers_foreach(
        soup_server_message_get_request_headers(message),
        [](const char* name, const char* value, gpointer data) {
            static_cast<Request*>(data)->headers.emplace_back(name, value);
        },
        &request);

    // Without an early handler libsoup has read the whole body before calling us.
    BytesPtr body{soup_message_body_flatten(soup_server_message_get_request_body(message))};
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(body.get(), &size));
    if (data && size > 0)
        request.body.assign(data, size);
    return request;
}

void writeResponse(SoupServerMessage* message, const Response& response)
{
    soup_server_message_set_status(message, static_cast<guint>(response.status), nullptr);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    for (const auto& [name, value] : response.headers)
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    if (!response.contentType.empty() || !response.body.empty()) {
        const char* type = response.contentType.empty() ? nullptr : response.contentType.c_str();
        soup_server_message_set_response(message, type, SOUP_MEMORY_COPY, response.body.data(), response.body.size());
    }
}

}  // namespace

struct StandInServer::Impl {
    AppState state;
    GObjectPtr<SoupServer> server;
    unsigned port = 0;
    bool secure = false;

    static void handle(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer data)
    {
        auto* self = static_cast<Impl*>(data);
        // An exception must not unwind through libsoup's C frames.
        try {
            writeResponse(message, route(self->state, readRequest(message)));
        } catch (const std::exception& error) {
            writeResponse(message, jsonResponse(500, {{"error", error.what()}}));
        } catch (...) {
            writeResponse(message, jsonResponse(500, {{"error", "internal error"}}));
        }
    }

    ~Impl()
    {
        if (server)
            soup_server_disconnect(server.get());
    }
};

StandInServer::StandInServer() : impl_(std::make_unique<Impl>()) {}

StandInServer::~StandInServer() = default;

unsigned StandInServer::start(unsigned port, const std::string& tlsCertificatePem)
{
    if (impl_->server)
        throw std::runtime_error("stand-in server already started on port " + std::to_string(impl_->port));
    if (port > 65535)
        throw std::runtime_error("port out of range: " + std::to_string(port));

    GObjectPtr<SoupServer> server{soup_server_new("server-header", "OrvanStandIn", nullptr)};
    if (!server)
        throw std::runtime_error("could not create the HTTP server");
    soup_server_add_handler(server.get(), nullptr, &Impl::handle, impl_.get(), nullptr);
    GError* rawError = nullptr;
    if (!tlsCertificatePem.empty()) {
        GObjectPtr<GTlsCertificate> certificate{g_tls_certificate_new_from_pem(tlsCertificatePem.c_str(), -1, &rawError)};
        ErrorPtr error{rawError};
        if (!certificate)
            throw std::runtime_error(std::string("unusable certificate: ") + (error ? error->message : "unknown error"));
        g_object_set(server.get(), "tls-certificate", certificate.get(), nullptr);
    }

    GObjectPtr<GSocketAddress> address{g_inet_socket_address_new_from_string("127.0.0.1", port)};
    const auto options = tlsCertificatePem.empty() ? static_cast<SoupServerListenOptions>(0) : SOUP_SERVER_LISTEN_HTTPS;
    // Listening attaches the sockets to the caller's thread-default main context.
    if (!soup_server_listen(server.get(), address.get(), options, &rawError)) {
        ErrorPtr error{rawError};
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": "
            + (error ? error->message : "unknown error"));
    }

    GSList* listeners = soup_server_get_listeners(server.get());
    unsigned bound = 0;
    if (listeners) {
        GObjectPtr<GSocketAddress> local{g_socket_get_local_address(G_SOCKET(listeners->data), nullptr)};
        if (local && G_IS_INET_SOCKET_ADDRESS(local.get()))
            bound = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local.get()));
    }
    g_slist_free(listeners);  // the sockets belong to the server
    if (bound == 0) {
        soup_server_disconnect(server.get());
        throw std::runtime_error("could not read the port the server bound");
    }

    impl_->server = std::move(server);
    impl_->port = bound;
    impl_->secure = !tlsCertificatePem.empty();
    return bound;
}

void StandInServer::stop()
{
    if (impl_->server)
        soup_server_disconnect(impl_->server.get());
    impl_->server = {};
}

std::string StandInServer::baseURL() const
{
    return (impl_->secure ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(impl_->port);
}

std::vector<RequestRecord> StandInServer::requests() const
{
    return impl_->state.requests();
}

void StandInServer::clearRequests()
{
    impl_->state.clearRequests();
}

void StandInServer::setBadgeCounts(const nlohmann::json& counts)
{
    impl_->state.setBadgeCounts(counts);
}

void StandInServer::setDeploymentId(std::optional<std::string> id)
{
    impl_->state.setDeploymentId(std::move(id));
}

void StandInServer::setSignedIn(bool signedIn)
{
    impl_->state.setSignedIn(signedIn);
}

void StandInServer::setPushResponse(int status, std::string body)
{
    impl_->state.setPushResponse(status, std::move(body));
}

std::optional<std::string> StandInServer::pushDeviceToken() const
{
    return impl_->state.pushToken();
}

std::vector<nlohmann::json> StandInServer::uploads() const
{
    return impl_->state.uploads();
}

}  // namespace orvan::webapp
