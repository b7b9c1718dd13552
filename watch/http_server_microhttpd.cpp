#include "watch/http_server.h"

#include "platform/listening_socket.h"

#include <microhttpd.h>

#include <cstdint>
#include <optional>
#include <utility>

namespace watch {
namespace {

// Limits that keep slow or hostile clients from holding the server: every
// connection is served by one event loop, an idle or half-sent one is dropped
// after the timeout, and a request must fit in a small buffer.
constexpr unsigned connectionTimeoutSeconds = 10;
constexpr unsigned connectionLimit = 1000;
constexpr std::size_t connectionMemoryLimit = 16 * 1024;

MHD_Result collect(void *fields, MHD_ValueKind, const char *name, const char *value)
{
    static_cast<Fields *>(fields)->emplace_back(name, value != nullptr ? value : "");
    return MHD_YES;
}

Request requestOf(MHD_Connection *connection, const char *url, const char *method)
{
    Request request{method, url, {}, {}};
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collect, &request.query);
    MHD_get_connection_values(connection, MHD_HEADER_KIND, collect, &request.headers);
    return request;
}

MHD_Result reply(MHD_Connection *connection, Response response)
{
    // The body is handed over and freed by the server once sent.
    auto *text = new std::string(std::move(response.body));
    MHD_Response *sent = MHD_create_response_from_buffer_with_free_callback_cls(
        text->size(), text->data(), [](void *owned) { delete static_cast<std::string *>(owned); }, text);
    if (sent == nullptr) {
        delete text;
        return MHD_NO;
    }
    MHD_add_response_header(sent, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
    for (const auto &[name, value] : response.headers)
        MHD_add_response_header(sent, name.c_str(), value.c_str());
    const MHD_Result queued = MHD_queue_response(connection, response.status, sent);
    MHD_destroy_response(sent);
    return queued;
}

// How the listening socket shares its port: the library sets
// SO_EXCLUSIVEADDRUSE on Windows when told not to reuse the address (0), and
// is left to its default elsewhere (see platform::ListeningAddress).
MHD_OptionItem portOptions[] = {{MHD_OPTION_LISTENING_ADDRESS_REUSE, 0, nullptr},
                                {MHD_OPTION_END, 0, nullptr}};

// The one server that sensor-watch runs.
MHD_Daemon *httpDaemon = nullptr;
int boundPort = -1;

}  // namespace

std::string startServer(const Endpoint &endpoint, Serving &serving)
{
    // Runs on the loop's thread for each request: first when its head has
    // arrived, then for each piece of a body, then once more when it is
    // complete. A refusal goes out at once (and closes the connection); an
    // answer goes out at the end, so that the connection can be kept alive.
    const MHD_AccessHandlerCallback handle = [](void *cls, MHD_Connection *connection, const char *url,
                                                const char *method, const char *, const char *,
                                                size_t *uploadSize, void **requestState) {
        static int started;
        if (*requestState == nullptr) {
            if (std::optional<Response> refused =
                    refusal(*static_cast<Serving *>(cls), requestOf(connection, url, method)))
                return reply(connection, std::move(*refused));
            *requestState = &started;
            return MHD_YES;
        }
        // A body has no meaning here; it is dropped as it arrives.
        if (*uploadSize != 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        return reply(connection,
                     answer(*static_cast<Serving *>(cls), requestOf(connection, url, method), momentNow()));
    };
    const std::optional<NumericAddress> numeric = parseNumericAddress(endpoint.host);
    if (!numeric)
        return "not a numeric IPv4 or IPv6 address: " + endpoint.host;
    platform::ListeningAddress address = platform::listeningAddress(
        std::span(numeric->bytes).first(numeric->ipv6 ? 16 : 4), static_cast<std::uint16_t>(endpoint.port));
    // One thread runs the event loop (epoll on Linux, poll or select
    // elsewhere) for every connection. No second sensor-watch may share the
    // port and answer every other scrape from its own block (see
    // portOptions).
    const unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | (address.ipv6 ? MHD_USE_IPv6 : 0);
    httpDaemon =
        MHD_start_daemon(flags, 0, nullptr, nullptr, handle, &serving, MHD_OPTION_SOCK_ADDR,
                         reinterpret_cast<sockaddr *>(address.storage.data()), MHD_OPTION_CONNECTION_TIMEOUT,
                         connectionTimeoutSeconds, MHD_OPTION_CONNECTION_LIMIT, connectionLimit,
                         MHD_OPTION_CONNECTION_MEMORY_LIMIT, connectionMemoryLimit, MHD_OPTION_ARRAY,
                         address.claimsPortAlone ? portOptions : portOptions + 1, MHD_OPTION_END);
    const MHD_DaemonInfo *bound =
        httpDaemon != nullptr ? MHD_get_daemon_info(httpDaemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    if (bound == nullptr) {
        stopServer();
        return "cannot listen on " + endpoint.host + " port " + std::to_string(endpoint.port);
    }
    boundPort = bound->port;
    return {};
}

int serverPort()
{
    return boundPort;
}

void stopServer()
{
    if (httpDaemon != nullptr)
        MHD_stop_daemon(httpDaemon);
    httpDaemon = nullptr;
}

}  // namespace watch
