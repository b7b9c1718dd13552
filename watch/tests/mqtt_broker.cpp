#include "watch/tests/mqtt_broker.h"
#include "testing/child_process.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Collected {
    std::string marker;
    bool markerSeen = false;
    bool published = false;
    std::map<std::string, std::string> messages;
};

// Connects a test client, runs `act` on it and then drives it until `done`
// holds, with a generous deadline.
template <typename Act, typename Done> void withClient(int port, Collected &collected, Act act, Done done)
{
    mosquitto_lib_init();
    const std::unique_ptr<mosquitto, void (*)(mosquitto *)> owned(mosquitto_new(nullptr, true, &collected),
                                                                  mosquitto_destroy);
    mosquitto *client = owned.get();
    ASSERT_NE(client, nullptr);
    mosquitto_message_callback_set(client, [](mosquitto *, void *data, const mosquitto_message *message) {
        Collected &seen = *static_cast<Collected *>(data);
        const std::string payload(static_cast<const char *>(message->payload), message->payloadlen);
        if (message->topic == seen.marker)
            seen.markerSeen = true;
        else if (message->retain)
            seen.messages[message->topic] = payload;
    });
    mosquitto_publish_callback_set(
        client, [](mosquitto *, void *data, int) { static_cast<Collected *>(data)->published = true; });
    ASSERT_EQ(mosquitto_connect(client, "127.0.0.1", port, 60), MOSQ_ERR_SUCCESS);
    act(client);
    const auto deadline = Clock::now() + 60s;
    while (!done() && Clock::now() < deadline && mosquitto_loop(client, 100, 1) == MOSQ_ERR_SUCCESS)
        ;
    EXPECT_TRUE(done()) << "the broker on port " << port << " did not answer";
    mosquitto_disconnect(client);
}

}  // namespace

bool brokerInstalled()
{
    return !std::string_view(MOSQUITTO).empty() && !std::string_view(MOSQUITTO_PASSWD).empty() &&
           !std::string_view(OPENSSL).empty();
}

Broker::Broker(std::string_view extra) : port(freePort())
{
    // Run as root, mosquitto would drop to its own user, which cannot read
    // the test's private files; "user" changes nothing for another user.
    std::ofstream(configuration.path)
        << "listener " << port << " 127.0.0.1\npersistence false\nuser root\n"
        << "log_dest stderr\nlog_type error\nlog_type warning\nlog_type information\n"
        << extra;
    restart();
}

void Broker::restart()
{
    if (process)
        process->stop(SIGKILL);
    if (!brokerInstalled())
        return;
    process = std::make_unique<Running>(std::vector<std::string>{MOSQUITTO, "-c", configuration.path});
    // The broker says that it runs once it listens.
    EXPECT_TRUE(eventually(60s, [&] {
        process->drain();
        return process->output.find(" running") != std::string::npos;
    })) << process->output;
}

std::map<std::string, std::string> retained(int port, const std::vector<std::string> &filters)
{
    Collected collected;
    collected.marker = "sensor-bridge-test/marker";
    withClient(
        port, collected,
        [&](mosquitto *client) {
            for (const std::string &filter : filters)
                mosquitto_subscribe(client, nullptr, filter.c_str(), 1);
            mosquitto_subscribe(client, nullptr, collected.marker.c_str(), 1);
            mosquitto_publish(client, nullptr, collected.marker.c_str(), 0, "", 1, false);
        },
        [&] { return collected.markerSeen; });
    return collected.messages;
}

void publishTo(int port, const std::string &topic, std::string_view payload, bool retain)
{
    Collected collected;
    withClient(
        port, collected,
        [&](mosquitto *client) {
            mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, retain);
        },
        [&] { return collected.published; });
}
