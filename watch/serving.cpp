#include "watch/serving.h"

#include "platform/process_stats.h"
#include "watch/address.h"
#include "watch/gzip.h"
#include "watch/metrics.h"
#include "watch/page_json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <optional>
#include <system_error>

namespace watch {
namespace {

constexpr std::string_view htmlContentType = "text/html; charset=utf-8";
constexpr std::string_view textContentType = "text/plain; charset=utf-8";

// The page runs only its own inline script and style, and talks only to this
// server: even a name that got past the page's escaping could load nothing.
constexpr std::string_view pagePolicy = "default-src 'none'; script-src 'unsafe-inline'; "
                                        "style-src 'unsafe-inline'; img-src data:; connect-src 'self'";

// Whether a header field's name is the lower-case one, in any case.
bool isField(std::string_view name, std::string_view lowerCase)
{
    return std::ranges::equal(name, lowerCase,
                              [](char given, char expected) { return (given | 0x20) == expected; });
}

bool hostAllowed(const HostCheck &check, const Fields &headers)
{
    if (!check.applies)
        return true;
    const auto host =
        std::ranges::find_if(headers, [](const auto &field) { return isField(field.first, "host"); });
    if (host == headers.end())
        return false;
    const std::string name = hostFieldName(host->second);
    return !name.empty() &&
           (isLoopbackName(name) || std::ranges::find(check.names, name) != check.names.end());
}

struct Answer {
    unsigned status = 200;
    std::string body;
    // Header fields of this answer's own.
    Fields headers{};
};

Answer page(Serving &serving, const Request &, Moment)
{
    return {200, std::string(serving.page)};
}

// Whether any of the request's Accept-Encoding fields takes gzip.
bool wantsGzip(const Fields &headers)
{
    return std::ranges::any_of(headers, [](const auto &field) {
        return isField(field.first, "accept-encoding") && acceptsGzip(field.second);
    });
}

// The scrape: the lines that change with every scrape (the build, the
// freshness, the process's figures), then the snapshot's readings. Gzip
// where the request asks for it, from the readings deflated once when
// published; both forms say that they depend on Accept-Encoding.
Answer metrics(Serving &serving, const Request &request, Moment now)
{
    std::optional<SnapshotAge> age;
    std::shared_ptr<const Rendered> rendered;
    {
        const std::lock_guard lock(serving.mutex);
        age = snapshotAge(serving.readings, now);
        rendered = serving.rendered;
    }
    std::string head =
        renderBuildInfo() + renderFreshness(age) +
        renderProcess(serving.processStats != nullptr ? serving.processStats() : platform::ProcessStats{});
    Answer answered{200, {}, {{"Vary", "Accept-Encoding"}}};
    const DeflatedPart *tail = rendered && rendered->metricsDeflated ? &*rendered->metricsDeflated : nullptr;
    if (wantsGzip(request.headers) && (tail != nullptr || !rendered)) {
        if (const std::optional<DeflatedPart> deflated = deflatePart(head, tail == nullptr)) {
            const std::array parts{&*deflated, tail};
            answered.body = gzipMember(std::span(parts.data(), tail != nullptr ? 2 : 1));
            answered.headers.emplace_back("Content-Encoding", "gzip");
            return answered;
        }
    }
    answered.body = std::move(head);
    if (rendered)
        answered.body += rendered->metrics;
    return answered;
}

Answer status(Serving &serving, const Request &, Moment now)
{
    const std::lock_guard lock(serving.mutex);
    return {200, renderStatusJson(serving.readings.sequence, snapshotAge(serving.readings, now))};
}

Answer snapshot(Serving &serving, const Request &, Moment)
{
    std::shared_ptr<const Rendered> rendered;
    {
        const std::lock_guard lock(serving.mutex);
        rendered = serving.rendered;
    }
    return {200, rendered ? rendered->snapshotJson : renderSnapshotJson(Readings{}, serving.units)};
}

// The value of the first field of that name, or "" when there is none.
std::string_view field(const Fields &fields, std::string_view name)
{
    const auto found = std::ranges::find(fields, name, &Fields::value_type::first);
    return found != fields.end() ? std::string_view(found->second) : std::string_view();
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

// GET /api/history?points=N&ids=A,B,C: the last N snapshots (all that are
// kept by default) of the readings with those ids (every one by default).
Answer history(Serving &serving, const Request &request, Moment)
{
    const std::optional<std::uint64_t> points = argument(field(request.query, "points"), historyLength);
    std::vector<std::uint64_t> ids;
    std::string_view list = field(request.query, "ids");
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
        return {400, renderErrorJson("points and ids must be numbers, ids comma-separated")};
    HistoryExtract extract;
    {
        const std::lock_guard lock(serving.mutex);
        extract = extractHistory(serving.readings, ids, static_cast<std::size_t>(*points));
    }
    return {200, renderHistoryJson(extract)};
}

struct Route {
    std::string_view path;
    std::string_view contentType;
    Answer (*answer)(Serving &, const Request &, Moment);
};

constexpr std::array routes{
    Route{"/", htmlContentType, page},
    Route{"/metrics", metricsContentType, metrics},
    Route{"/api/status", jsonContentType, status},
    Route{"/api/snapshot", jsonContentType, snapshot},
    Route{"/api/history", jsonContentType, history},
};

const Route *routeOf(std::string_view path)
{
    const auto found = std::ranges::find(routes, path, &Route::path);
    return found != routes.end() ? &*found : nullptr;
}

// Every answer is for this one client and this one moment, and is what its
// content type says.
Response respond(unsigned status, std::string_view contentType, std::string body, Fields headers = {})
{
    Response response{status,
                      std::string(contentType),
                      std::move(body),
                      {{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}}};
    std::ranges::move(headers, std::back_inserter(response.headers));
    if (contentType == htmlContentType)
        response.headers.emplace_back("Content-Security-Policy", pagePolicy);
    return response;
}

}  // namespace

void publish(Serving &serving, Snapshot snapshot, bool old, Moment now)
{
    // The texts are rendered under the lock too, so that no request sees the
    // new snapshot's sequence or age beside the last one's texts.
    const std::lock_guard lock(serving.mutex);
    recordSnapshot(serving.readings, std::move(snapshot), now, old);
    std::string metrics = renderReadings(serving.readings, serving.units);
    std::optional<DeflatedPart> deflated = deflatePart(metrics, true);
    serving.rendered = std::make_shared<const Rendered>(Rendered{
        std::move(metrics), std::move(deflated), renderSnapshotJson(serving.readings, serving.units)});
}

HostCheck hostCheckFor(std::string_view address, std::span<const std::string> allowed)
{
    const std::optional<NumericAddress> bound = parseNumericAddress(address);
    HostCheck check{(bound && isLoopback(*bound)) || !allowed.empty(), {}};
    for (const std::string &name : allowed)
        check.names.push_back(hostFieldName(name));
    return check;
}

std::optional<Response> refusal(const Serving &serving, const Request &request)
{
    if (!hostAllowed(serving.hostCheck, request.headers))
        return respond(403, textContentType,
                       "refused: the Host header must name localhost, a loopback address or a name given "
                       "with --allow-host\n");
    if (routeOf(request.path) == nullptr)
        return respond(404, textContentType, "not found\n");
    if (request.method != "GET" && request.method != "HEAD") {
        Response response = respond(405, textContentType, "only GET and HEAD\n");
        response.headers.emplace_back("Allow", "GET, HEAD");
        return response;
    }
    return std::nullopt;
}

Response answer(Serving &serving, const Request &request, Moment now)
{
    if (std::optional<Response> refused = refusal(serving, request))
        return std::move(*refused);
    const Route &route = *routeOf(request.path);
    Answer answered = route.answer(serving, request, now);
    return respond(answered.status, route.contentType, std::move(answered.body), std::move(answered.headers));
}

}  // namespace watch
