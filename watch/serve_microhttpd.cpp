#include "serve.h"

#include "metrics.h"
#include "page.h"
#include "page_json.h"

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
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace watch {
namespace {

// A snapshot as served: its readings and its dashboard document rendered
// once.
struct Published {
    std::string readings;
    std::string snapshotJson;
};

// What the event loop's thread and the one that publishes share.
struct Serving {
    std::mutex mutex{};
    // Replaced whole for each snapshot, so that a request holds on to the one
    // it started with while the next is published.
    std::shared_ptr<const Published> published{};
    Readings readings{.keepHistory = true};
};

struct Answer {
    unsigned status = MHD_HTTP_OK;
    std::string body;
};

std::shared_ptr<const Published> lastPublished(Serving &serving)
{
    const std::lock_guard lock(serving.mutex);
    return serving.published;
}

Answer metricsText(Serving &serving, MHD_Connection *)
{
    std::optional<SnapshotAge> age;
    std::shared_ptr<const Published> published;
    {
        const std::lock_guard lock(serving.mutex);
        age = snapshotAge(serving.readings, momentNow());
        published = serving.published;
    }
    return {MHD_HTTP_OK, renderFreshness(age) + (published ? published->readings : "")};
}

Answer page(Serving &, MHD_Connection *)
{
    return {MHD_HTTP_OK, std::string(dashboardPage)};
}

Answer status(Serving &serving, MHD_Connection *)
{
    const std::lock_guard lock(serving.mutex);
    return {MHD_HTTP_OK,
            renderStatusJson(serving.readings.sequence, snapshotAge(serving.readings, momentNow()))};
}

Answer snapshot(Serving &serving, MHD_Connection *)
{
    const std::shared_ptr<const Published> published = lastPublished(serving);
    if (published)
        return {MHD_HTTP_OK, published->snapshotJson};
    return {MHD_HTTP_OK, renderSnapshotJson(Readings{})};
}

// A query argument as a number, when it is one; `fallback` when it is absent.
std::optional<std::uint64_t> argument(std::string_view text, std::uint64_t fallback)
{
    if (text.empty())
        return fallback;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() ? std::optional(value) : std::nullopt;
}

std::string_view query(MHD_Connection *connection, const char *name)
{
    const char *value = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
    return value != nullptr ? value : "";
}

// GET /api/history?points=N&ids=A,B,C: the last N snapshots (all that are
// kept by default) of the readings with those ids (every one by default).
Answer history(Serving &serving, MHD_Connection *connection)
{
    const std::optional<std::uint64_t> points = argument(query(connection, "points"), historyLength);
    std::vector<std::uint64_t> ids;
    std::string_view list = query(connection, "ids");
    bool valid = points.has_value();
    while (valid && !list.empty()) {
        const std::size_t comma = list.find(',');
        const std::optional<std::uint64_t> id = argument(list.substr(0, comma), 0);
        valid = id && *id > 0;
        if (valid)
            ids.push_back(*id);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    if (!valid)
        return {MHD_HTTP_BAD_REQUEST, renderErrorJson("points and ids must be numbers, ids comma-separated")};
    HistoryExtract extract;
    {
        const std::lock_guard lock(serving.mutex);
        extract = extractHistory(serving.readings, ids, static_cast<std::size_t>(*points));
    }
    return {MHD_HTTP_OK, renderHistoryJson(extract)};
}

// A page the server answers with GET and HEAD.
struct Route {
    std::string_view path;
    std::string_view contentType;
    Answer (*answer)(Serving &, MHD_Connection *);
};

constexpr std::string_view htmlContentType = "text/html; charset=utf-8";

constexpr std::array routes{
    Route{"/", htmlContentType, page},
    Route{"/metrics", metricsContentType, metricsText},
    Route{"/api/status", jsonContentType, status},
    Route{"/api/snapshot", jsonContentType, snapshot},
    Route{"/api/history", jsonContentType, history},
};

// The page runs only its own inline script and style, and talks only to this
// server: even a name that got past the page's escaping could load nothing.
constexpr const char *pagePolicy = "default-src 'none'; script-src 'unsafe-inline'; "
                                   "style-src 'unsafe-inline'; img-src data:; connect-src 'self'";

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
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (contentType == htmlContentType)
        MHD_add_response_header(response, "Content-Security-Policy", pagePolicy);
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

// The one server a consumer runs.
MHD_Daemon *httpDaemon = nullptr;
int boundPort = -1;
Serving serving;

}  // namespace

std::string startServer(const Endpoint &endpoint)
{
    // Runs on the loop's thread for each request: first when its head has
    // arrived, then for each piece of a body, then once more when it is
    // complete. Refusals go out at once (and close the connection); a page
    // goes out at the end, so that the connection can be kept alive.
    const MHD_AccessHandlerCallback answer = [](void *cls, MHD_Connection *connection, const char *url,
                                                const char *method, const char *, const char *,
                                                size_t *uploadSize, void **requestState) {
        auto &serving = *static_cast<Serving *>(cls);
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
        Answer answered = route->answer(serving, connection);
        return reply(connection, answered.status, std::move(answered.body), route->contentType);
    };
    sockaddr_storage address{};
    if (!socketAddress(endpoint, address))
        return "not a numeric IPv4 or IPv6 address: " + endpoint.host;
    // One thread runs the event loop (epoll on Linux, poll or select
    // elsewhere) for every connection. The library's default address reuse
    // (SO_REUSEADDR on POSIX, none on Windows, never SO_REUSEPORT) keeps a
    // second consumer from sharing the port and answering every other scrape
    // from its own block.
    const unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | (address.ss_family == AF_INET6 ? MHD_USE_IPv6 : 0);
    httpDaemon = MHD_start_daemon(flags, 0, nullptr, nullptr, answer, &serving, MHD_OPTION_SOCK_ADDR,
                                  reinterpret_cast<sockaddr *>(&address), MHD_OPTION_CONNECTION_TIMEOUT,
                                  connectionTimeoutSeconds, MHD_OPTION_CONNECTION_LIMIT, connectionLimit,
                                  MHD_OPTION_CONNECTION_MEMORY_LIMIT, connectionMemoryLimit, MHD_OPTION_END);
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

void publishToServer(Snapshot snapshot, bool old)
{
    // The texts are rendered under the lock too, so that no request sees the
    // new snapshot's sequence or age beside the last one's texts.
    const std::lock_guard lock(serving.mutex);
    recordSnapshot(serving.readings, std::move(snapshot), momentNow(), old);
    serving.published = std::make_shared<const Published>(
        Published{renderReadings(serving.readings), renderSnapshotJson(serving.readings)});
}

}  // namespace watch
