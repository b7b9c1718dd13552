#include "serve.h"

#include "metrics.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <microhttpd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

// A snapshot as served: its readings rendered once, and when it appeared.
struct Published {
    std::string readings;
    std::chrono::system_clock::time_point wallTime;
    std::chrono::steady_clock::time_point steadyTime;
    bool old = false;
};

std::string metricsText(const Published *published)
{
    if (published == nullptr)
        return renderFreshness(std::nullopt);
    // The age comes from the steady clock, so that a clock change does not
    // make a stopped bridge look fresh or a running one stale.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - published->steadyTime).count();
    const double timestamp = std::chrono::duration<double>(published->wallTime.time_since_epoch()).count();
    return renderFreshness(SnapshotAge{timestamp, seconds, published->old}) + published->readings;
}

// A page the server answers with GET and HEAD: rendered for each request
// from the last published snapshot (null before the first).
struct Route {
    std::string_view path;
    std::string_view contentType;
    std::string (*render)(const Published *);
};

constexpr std::array routes{
    Route{"/metrics", metricsContentType, metricsText},
};

// Limits that keep slow or hostile clients from holding the server: every
// connection is served by one event loop, an idle or half-sent one is dropped
// after the timeout, and a request must fit in a small buffer.
constexpr unsigned connectionTimeoutSeconds = 10;
constexpr unsigned connectionLimit = 1000;
constexpr std::size_t connectionMemoryLimit = 16 * 1024;

MHD_Result reply(MHD_Connection *connection, unsigned status, std::string body, std::string_view contentType,
                 const char *allow = nullptr)
{
    // The body is handed over and freed by the server once sent.
    auto *text = new std::string(std::move(body));
    MHD_Response *response = MHD_create_response_from_buffer_with_free_callback_cls(
        text->size(), text->data(), [](void *owned) { delete static_cast<std::string *>(owned); }, text);
    if (response == nullptr) {
        delete text;
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, std::string(contentType).c_str());
    if (allow != nullptr)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// The socket address for a numeric IPv4 or IPv6 address and a port.
bool socketAddress(const Endpoint &endpoint, sockaddr_storage &address)
{
    std::memset(&address, 0, sizeof address);
    auto *ipv4 = reinterpret_cast<sockaddr_in *>(&address);
    auto *ipv6 = reinterpret_cast<sockaddr_in6 *>(&address);
    const auto port = htons(static_cast<std::uint16_t>(endpoint.port));
    if (inet_pton(AF_INET, endpoint.host.c_str(), &ipv4->sin_addr) == 1) {
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = port;
        return true;
    }
    if (inet_pton(AF_INET6, endpoint.host.c_str(), &ipv6->sin6_addr) == 1) {
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_port = port;
        return true;
    }
    return false;
}

}  // namespace

struct MetricsServer::State {
    MHD_Daemon *daemon = nullptr;
    std::string error;
    int port = -1;
    std::mutex mutex;
    std::shared_ptr<const Published> published;
};

MetricsServer::MetricsServer(const Endpoint &endpoint) : state_(std::make_unique<State>())
{
    State &state = *state_;
    // Runs on the loop's thread for each request: first when its head has
    // arrived, then for each piece of a body, then once more when it is
    // complete. Refusals go out at once (and close the connection); a page
    // goes out at the end, so that the connection can be kept alive.
    const MHD_AccessHandlerCallback answer = [](void *cls, MHD_Connection *connection, const char *url,
                                                const char *method, const char *, const char *,
                                                size_t *uploadSize, void **requestState) {
        auto &serving = *static_cast<State *>(cls);
        const auto route = std::ranges::find(routes, std::string_view(url), &Route::path);
        if (route == routes.end())
            return reply(connection, MHD_HTTP_NOT_FOUND, "not found\n", "text/plain");
        const std::string_view verb(method);
        if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD)
            return reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET and HEAD\n", "text/plain",
                         "GET, HEAD");
        static int started;
        if (*requestState == nullptr) {
            *requestState = &started;
            return MHD_YES;
        }
        // A body has no meaning here; it is dropped as it arrives.
        if (*uploadSize != 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        // Only the pointer is taken under the lock; rendering happens outside it.
        std::shared_ptr<const Published> published;
        {
            const std::lock_guard lock(serving.mutex);
            published = serving.published;
        }
        return reply(connection, MHD_HTTP_OK, route->render(published.get()), route->contentType);
    };
    sockaddr_storage address{};
    if (!socketAddress(endpoint, address)) {
        state.error = "not a numeric IPv4 or IPv6 address: " + endpoint.host;
        return;
    }
    // One thread runs the event loop (epoll on Linux, poll or select
    // elsewhere) for every connection. The library's default address reuse
    // (SO_REUSEADDR on POSIX, none on Windows, never SO_REUSEPORT) keeps a
    // second consumer from sharing the port and answering every other scrape
    // from its own block.
    const unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | (address.ss_family == AF_INET6 ? MHD_USE_IPv6 : 0);
    state.daemon =
        MHD_start_daemon(flags, 0, nullptr, nullptr, answer, &state, MHD_OPTION_SOCK_ADDR,
                         reinterpret_cast<sockaddr *>(&address), MHD_OPTION_CONNECTION_TIMEOUT,
                         connectionTimeoutSeconds, MHD_OPTION_CONNECTION_LIMIT, connectionLimit,
                         MHD_OPTION_CONNECTION_MEMORY_LIMIT, connectionMemoryLimit, MHD_OPTION_END);
    const MHD_DaemonInfo *bound =
        state.daemon != nullptr ? MHD_get_daemon_info(state.daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    if (bound == nullptr) {
        state.error = "cannot listen on " + endpoint.host + " port " + std::to_string(endpoint.port);
        return;
    }
    state.port = bound->port;
}

MetricsServer::~MetricsServer()
{
    if (state_->daemon != nullptr)
        MHD_stop_daemon(state_->daemon);
}

const std::string &MetricsServer::error() const
{
    return state_->error;
}

int MetricsServer::port() const
{
    return state_->port;
}

void MetricsServer::publish(const Snapshot &snapshot, bool old)
{
    auto published = std::make_shared<const Published>(Published{
        renderReadings(snapshot), std::chrono::system_clock::now(), std::chrono::steady_clock::now(), old});
    const std::lock_guard lock(state_->mutex);
    state_->published = std::move(published);
}
