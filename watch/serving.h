// Serve mode apart from HTTP: what the server holds (the readings with their
// history, and the texts of the last snapshot) and how it answers a request
// from it. The HTTP server hands each request over and sends the response
// back, so the tests ask for every route in-process, without a socket.
#pragma once

#include "platform/process_stats.h"
#include "watch/gzip.h"
#include "watch/readings.h"

#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace watch {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method;
    // The path without the query.
    std::string path;
    // The query's arguments, decoded, in the order given.
    Fields query;
    // The header fields as they came.
    Fields headers;
};

struct Response {
    unsigned status = 200;
    std::string contentType;
    std::string body;
    // Header fields besides Content-Type and Content-Length.
    Fields headers;
};

// The texts of one snapshot, rendered once when it was published, so that a
// request neither renders readings nor sees half of a refresh.
struct Rendered {
    std::string metrics;
    // The metrics deflated as the last part of a gzip scrape (see gzip.h);
    // nothing when zlib failed, and those scrapes are served plain.
    std::optional<DeflatedPart> metricsDeflated;
    std::string snapshotJson;
};

// Which names a request's Host field may give. Bound to a loopback address,
// where the user expects privacy, sensor-watch answers only requests for
// localhost, a loopback address (127.x.y.z, [::1], [::ffff:127.x.y.z]) or a
// name allowed with --allow-host: otherwise a web page from anywhere could
// point its own name at 127.0.0.1 (DNS rebinding) and read every reading
// through a visitor's browser. Bound to any other address, the user chose to be reached by
// whatever name scrapers know the machine by, and only names allowed with
// --allow-host (and the loopback ones) narrow that.
struct HostCheck {
    bool applies = false;
    // The names allowed besides the loopback ones, as a Host field's name is
    // compared (see hostFieldName).
    std::vector<std::string> names;
};

// The check for a server bound to the numeric `address` (an IPv6 one without
// brackets), with the names given by --allow-host.
HostCheck hostCheckFor(std::string_view address, std::span<const std::string> allowed);

// What the thread that publishes and the server's thread share.
struct Serving {
    // What "/" answers.
    std::string_view page;
    // Set before the server starts, and only read afterwards.
    HostCheck hostCheck{};
    // Whether the metrics and the page give values in their type's unit
    // (see metrics.h and units.h), or as published (--no-units).
    bool units = true;
    // Reads the process's figures for each scrape: platform::processStats
    // in the program, a fixed stand-in in the tests; none without it.
    platform::ProcessStats (*processStats)() = nullptr;
    std::mutex mutex{};
    // Only the publishing thread changes these, under the lock; requests
    // read them under it.
    Readings readings{.keepHistory = true};
    // Replaced whole for each snapshot, so that a request holds on to the
    // texts it started with while the next are published.
    std::shared_ptr<const Rendered> rendered{};
};

// Serves this snapshot from now on, as one that appeared at `now`, or as an
// old one (see Readings::old).
void publish(Serving &serving, Snapshot snapshot, bool old, Moment now);

// The answer to a request that no route takes, by its head alone: 403 for a
// Host that the check refuses (or none), before anything else; 404 for a
// path that is not served; 405 for a method other than GET and HEAD. Nothing
// for a request that a route answers.
std::optional<Response> refusal(const Serving &serving, const Request &request);

// Answers GET and HEAD of "/", "/metrics", "/api/status", "/api/snapshot" and
// "/api/history" from the last published snapshot, with its freshness at
// `now`; anything else with its refusal.
Response answer(Serving &serving, const Request &request, Moment now);

}  // namespace watch
