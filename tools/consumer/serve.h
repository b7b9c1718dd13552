// The consumer's serve mode: the last valid snapshot as Prometheus metrics
// over HTTP. Two implementations, chosen by the build: serve_microhttpd.cpp
// where libmicrohttpd is found, serve_unavailable.cpp elsewhere.
#pragma once

#include "block_reader.h"

#include <memory>
#include <string>

struct Endpoint {
    std::string host = "127.0.0.1";
    // Zero asks for any free port.
    int port = 0;
};

// Serves GET and HEAD of /metrics from a thread of its own until destroyed,
// from one event loop that slow clients cannot hold up. Scrapes are
// answered from the last published snapshot, rendered when it was published,
// so they never wait for the block and never see half of a refresh.
class MetricsServer {
  public:
    explicit MetricsServer(const Endpoint &endpoint);
    ~MetricsServer();
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    // Empty while serving; otherwise why it could not start.
    const std::string &error() const;
    // The port bound, which tells what port 0 turned into.
    int port() const;
    // Serves this snapshot from now on, as one that has just appeared, or as
    // an old one (see SnapshotAge::old).
    void publish(const Snapshot &snapshot, bool old);

  private:
    struct State;
    std::unique_ptr<State> state_;
};
