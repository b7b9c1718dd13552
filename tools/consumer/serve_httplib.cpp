#include "serve.h"

#include "metrics.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

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

}  // namespace

struct MetricsServer::State {
    httplib::Server http;
    std::thread thread;
    std::atomic<bool> ended{false};
    std::string error;
    int port = -1;
    std::mutex mutex;
    std::shared_ptr<const Published> published;
};

MetricsServer::MetricsServer(const Endpoint &endpoint) : state_(std::make_unique<State>())
{
    State &state = *state_;
    state.http.Get("/metrics", [&state](const httplib::Request &, httplib::Response &response) {
        // Only the pointer is taken under the lock; rendering the few freshness
        // lines and copying the text happen outside it.
        std::shared_ptr<const Published> published;
        {
            const std::lock_guard lock(state.mutex);
            published = state.published;
        }
        response.set_content(metricsText(published.get()), std::string(metricsContentType));
    });
    // httplib's default, SO_REUSEPORT, would let a second consumer share the
    // port and answer every other scrape from its own block. SO_REUSEADDR alone
    // still allows a restart while old connections linger.
    state.http.set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    if (endpoint.port == 0)
        state.port = state.http.bind_to_any_port(endpoint.host);
    else if (state.http.bind_to_port(endpoint.host, endpoint.port))
        state.port = endpoint.port;
    if (state.port < 0) {
        state.error = "cannot listen on " + endpoint.host + " port " + std::to_string(endpoint.port);
        return;
    }
    state.thread = std::thread([&state] {
        state.http.listen_after_bind();
        state.ended = true;
    });
    // stop() only reaches a server whose loop is running, so the constructor
    // returns once it runs.
    while (!state.http.is_running() && !state.ended)
        std::this_thread::sleep_for(1ms);
}

MetricsServer::~MetricsServer()
{
    if (!state_->thread.joinable())
        return;
    state_->http.stop();
    state_->thread.join();
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
