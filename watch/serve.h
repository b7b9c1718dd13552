// The consumer's serve mode: the last valid snapshot as Prometheus metrics
// over HTTP. Two implementations, chosen by the build: serve_microhttpd.cpp
// where libmicrohttpd is found, serve_unavailable.cpp elsewhere.
#pragma once

#include "block_reader.h"

#include <string>

namespace watch {

struct Endpoint {
    std::string host = "127.0.0.1";
    // Zero asks for any free port.
    int port = 0;
};

// Serves GET and HEAD of /metrics from a thread of its own until stopServer,
// from one event loop that slow clients cannot hold up. Scrapes are
// answered from the last published snapshot, rendered when it was published,
// so they never wait for the block and never see half of a refresh. Returns
// why it could not start, or nothing while it serves.
std::string startServer(const Endpoint &endpoint);

// The port bound, which tells what port 0 turned into.
int serverPort();

// Serves this snapshot from now on, as one that has just appeared, or as an
// old one (see SnapshotAge::old).
void publishToServer(Snapshot snapshot, bool old);

void stopServer();

}  // namespace watch
