// The serve mode of a build made without libmicrohttpd: the server never
// starts, and says why.
#include "serve.h"

struct MetricsServer::State {
    std::string error = "--serve is not available in this build (it was made without libmicrohttpd)";
};

MetricsServer::MetricsServer(const Endpoint &) : state_(std::make_unique<State>()) {}

MetricsServer::~MetricsServer() = default;

const std::string &MetricsServer::error() const
{
    return state_->error;
}

int MetricsServer::port() const
{
    return 0;
}

void MetricsServer::publish(const Snapshot &, bool) {}
