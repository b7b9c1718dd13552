// Serve mode apart from HTTP: what the server holds (the readings with their
// history, and the texts of the last snapshot) and how it answers a request
// from it. The HTTP server hands each request over and sends the response
// back, so the tests ask for every route in-process, without a socket.
#pragma once

#include "readings.h"

#include <memory>
#include <mutex>
#include <optional>
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
    std::string snapshotJson;
};

// What the thread that publishes and the server's thread share.
struct Serving {
    // What "/" answers.
    std::string_view page;
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

// The answer to a request that no route takes, by its method and path alone:
// 404 for a path that is not served, 405 for a method other than GET and
// HEAD. Nothing for a request that a route answers.
std::optional<Response> refusal(const Request &request);

// Answers GET and HEAD of "/", "/metrics", "/api/status", "/api/snapshot" and
// "/api/history" from the last published snapshot, with its freshness at
// `now`; anything else with its refusal.
Response answer(Serving &serving, const Request &request, Moment now);

}  // namespace watch
