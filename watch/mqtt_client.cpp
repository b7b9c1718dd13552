#include "watch/mqtt_client.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace watch {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The broker gives the last will once it has heard nothing for one and a
// half of these; a killed process closes its connection, and the will goes
// out at once.
constexpr int keepAliveSeconds = 30;
// QoS 1 messages on their way at once; the library queues the rest, and the
// client bounds that queue itself (see Events::pending).
constexpr int maxInflight = 20;
constexpr int longestBackoffSeconds = 30;
// How long --mqtt-remove and a stop wait for the broker.
constexpr auto answerWait = 30s;
constexpr auto goodbyeWait = 2s;

// What the watch loop and the client's thread share, under the mutex.
struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    // The latest snapshot that the client has not taken yet.
    std::optional<Snapshot> snapshot;
    // When the latest snapshot came, whether it was old, and whether any came.
    Moment at{};
    bool old = false;
    bool any = false;
    std::optional<std::string> failure;
};

Shared shared;
std::thread clientThread;

// The library's client, destroyed with its queued messages.
struct Client {
    mosquitto *handle = nullptr;
    Client() = default;
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;
    ~Client()
    {
        if (handle != nullptr)
            mosquitto_destroy(handle);
    }
};

// What the library's callbacks report. They run inside mosquitto_loop, on the
// thread that calls it, so the fields need no lock.
struct Events {
    std::optional<int> connack;
    bool lost = false;
    // Messages published and not yet written out (QoS 0) or acknowledged
    // (QoS 1). New states wait while any are, so that a slow broker never
    // makes the queue grow: it holds at most one round of configs and states.
    int pending = 0;
    // Home Assistant's own status topic, and whether it said "online".
    std::string homeAssistantStatus;
    bool homeAssistantOnline = false;
    // The library's last error line, which says why TLS failed.
    std::string lastError;
    // For --mqtt-remove: the topic that marks the end of the retained
    // messages, whether it came back, and the retained topics before it.
    std::string marker;
    bool markerSeen = false;
    std::vector<std::string> retained;
};

Events &eventsOf(void *events)
{
    return *static_cast<Events *>(events);
}

void onConnect(mosquitto *, void *events, int code)
{
    eventsOf(events).connack = code;
}

void onDisconnect(mosquitto *, void *events, int)
{
    eventsOf(events).lost = true;
}

void onPublish(mosquitto *, void *events, int)
{
    --eventsOf(events).pending;
}

void onMessage(mosquitto *, void *events, const mosquitto_message *message)
{
    Events &seen = eventsOf(events);
    const std::string_view topic(message->topic);
    const std::string_view payload(static_cast<const char *>(message->payload),
                                   static_cast<std::size_t>(std::max(message->payloadlen, 0)));
    if (topic == seen.homeAssistantStatus && payload == "online")
        seen.homeAssistantOnline = true;
    if (topic == seen.marker)
        seen.markerSeen = true;
    else if (!seen.marker.empty() && message->retain && !payload.empty())
        seen.retained.emplace_back(topic);
}

void onLog(mosquitto *, void *events, int level, const char *text)
{
    if (level == MOSQ_LOG_ERR)
        eventsOf(events).lastError = text;
}

void say(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string brokerText(const Endpoint &broker)
{
    return urlHost(broker.host) + ':' + std::to_string(broker.port);
}

// Makes a client with the settings' credentials and TLS, and the last will
// when asked; returns why it could not.
std::string makeClient(Client &client, const MqttSettings &settings, Events &events, std::string_view role,
                       bool withWill)
{
    mosquitto_lib_init();
    const std::string id = "sensor-watch-" + settings.discovery.node + std::string(role);
    client.handle = mosquitto_new(id.c_str(), true, &events);
    if (client.handle == nullptr)
        return "cannot make an MQTT client: " + std::string(std::strerror(errno));
    mosquitto_connect_callback_set(client.handle, onConnect);
    mosquitto_disconnect_callback_set(client.handle, onDisconnect);
    mosquitto_publish_callback_set(client.handle, onPublish);
    mosquitto_message_callback_set(client.handle, onMessage);
    mosquitto_log_callback_set(client.handle, onLog);
    mosquitto_max_inflight_messages_set(client.handle, maxInflight);
    if (!settings.user.empty())
        mosquitto_username_pw_set(client.handle, settings.user.c_str(),
                                  settings.password.empty() ? nullptr : settings.password.c_str());
    const std::string status = statusTopic(settings.discovery.node);
    if (withWill)
        mosquitto_will_set(client.handle, status.c_str(), 7, "offline", 1, true);
    if (settings.caFile.empty())
        return {};
    const int result =
        mosquitto_tls_set(client.handle, settings.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (result == MOSQ_ERR_NOT_SUPPORTED)
        return "this build of sensor-watch has no TLS, so --mqtt-ca is not available";
    if (result != MOSQ_ERR_SUCCESS)
        return "cannot use the CA file " + settings.caFile + ": " + mosquitto_strerror(result);
    return {};
}

bool publish(Client &client, Events &events, const std::string &topic, std::string_view payload, int qos,
             bool retain = true)
{
    const int result = mosquitto_publish(client.handle, nullptr, topic.c_str(),
                                         static_cast<int>(payload.size()), payload.data(), qos, retain);
    events.pending += result == MOSQ_ERR_SUCCESS;
    return result == MOSQ_ERR_SUCCESS;
}

// Why a call of the library failed, in words; errno is read at once.
std::string failureText(int result, const Events &events, const Endpoint &broker)
{
    if (result == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    if (result == MOSQ_ERR_EAI)
        return "cannot resolve " + broker.host;
    if (result == MOSQ_ERR_TLS)
        return "TLS failed" + (events.lastError.empty() ? std::string() : ": " + events.lastError);
    if (result == MOSQ_ERR_CONN_LOST || result == MOSQ_ERR_NO_CONN || events.lost)
        return "connection lost";
    return mosquitto_strerror(result);
}

// How a connection ended: why, whether that is a configuration error that
// ends the run, and whether it had been accepted.
struct Ending {
    std::string reason;
    bool fatal = false;
    bool accepted = false;
};

std::optional<Ending> refusal(int connack)
{
    // Wrong credentials are the user's to fix; retrying would not help.
    if (connack == 4 || connack == 5)
        return Ending{"the broker refused the connection: " + std::string(mosquitto_connack_string(connack)),
                      true};
    if (connack != 0)
        return Ending{mosquitto_connack_string(connack)};
    return std::nullopt;
}

// The client thread's own state, across connections.
struct Session {
    std::vector<IdentifiedSensor> sensors;
    Remembered remembered;
    // The readings whose config this connection has sent.
    std::set<std::string> configured;
    // What the bridge's availability topic says in this connection.
    std::optional<bool> bridgeOnline;
    Clock::time_point nextStates{};
};

bool stopping()
{
    const std::lock_guard lock(shared.mutex);
    return shared.stopping;
}

// Takes the latest snapshot, if a new one came; returns whether the bridge
// publishes (the snapshot is fresh, as the exporter's freshness).
bool takeSnapshot(Session &session)
{
    std::optional<Snapshot> snapshot;
    Moment at;
    bool old = false;
    bool any = false;
    {
        const std::lock_guard lock(shared.mutex);
        snapshot = std::exchange(shared.snapshot, std::nullopt);
        at = shared.at;
        old = shared.old;
        any = shared.any;
    }
    const double now = momentNow().steadySeconds;
    if (snapshot) {
        identifyAgain(session.sensors, *snapshot);
        remember(session.remembered, session.sensors, now);
    }
    return any && !old && now - at.steadySeconds <= freshSeconds;
}

void sendConfigs(Client &client, Events &events, Session &session, const Discovery &discovery, bool all)
{
    for (const IdentifiedSensor &sensor : session.sensors)
        for (const IdentifiedReading &reading : sensor.readings)
            if (session.configured.insert(reading.id).second || all)
                publish(client, events, configTopic(discovery, reading.id),
                        readingConfig(discovery, sensor, reading), 1);
}

void sendStates(Client &client, Events &events, Session &session, const Discovery &discovery)
{
    const auto messages =
        stateMessages(session.remembered, discovery.node, momentNow().steadySeconds, expireAfter(discovery));
    for (const auto &[topic, payload] : messages)
        publish(client, events, topic, payload, 0);
    session.nextStates = Clock::now() + std::chrono::seconds(discovery.everySeconds);
}

// Everything again, after a (re)connection or when Home Assistant comes
// online: a broker without persistence, or a Home Assistant that started
// afresh, has forgotten it.
void sendEverything(Client &client, Events &events, Session &session, const Discovery &discovery)
{
    publish(client, events, machineConfigTopic(discovery), machineConfig(discovery), 1);
    sendConfigs(client, events, session, discovery, true);
    sendStates(client, events, session, discovery);
}

// Says "offline" for both availabilities, since nobody follows the bridge
// any more, and gives the broker a moment to take it, then disconnects.
void sayGoodbye(Client &client, Events &events, const Discovery &discovery)
{
    publish(client, events, bridgeTopic(discovery.node), "offline", 1);
    publish(client, events, statusTopic(discovery.node), "offline", 1);
    const auto until = Clock::now() + goodbyeWait;
    while (events.pending > 0 && Clock::now() < until &&
           mosquitto_loop(client.handle, 100, 1) == MOSQ_ERR_SUCCESS)
        ;
    mosquitto_disconnect(client.handle);
}

// Drives one connection until it is lost, refused or stopped.
Ending serveConnection(Client &client, Events &events, Session &session, const MqttSettings &settings)
{
    const Discovery &discovery = settings.discovery;
    bool accepted = false;
    while (!stopping()) {
        const int result = mosquitto_loop(client.handle, 100, 1);
        // A broker that refuses closes the connection after saying why.
        if (!accepted && events.connack)
            if (std::optional<Ending> refused = refusal(*events.connack))
                return *refused;
        if (result != MOSQ_ERR_SUCCESS || events.lost)
            return {failureText(result, events, settings.broker), result == MOSQ_ERR_TLS, accepted};
        if (!accepted && events.connack) {
            accepted = true;
            say("connected");
            session.configured.clear();
            session.bridgeOnline.reset();
            takeSnapshot(session);
            publish(client, events, statusTopic(discovery.node), "online", 1);
            mosquitto_subscribe(client.handle, nullptr, events.homeAssistantStatus.c_str(), 1);
            sendEverything(client, events, session, discovery);
        }
        if (!accepted)
            continue;
        const bool fresh = takeSnapshot(session);
        sendConfigs(client, events, session, discovery, false);
        if (session.bridgeOnline != fresh) {
            publish(client, events, bridgeTopic(discovery.node), fresh ? "online" : "offline", 1);
            session.bridgeOnline = fresh;
        }
        if (std::exchange(events.homeAssistantOnline, false))
            sendEverything(client, events, session, discovery);
        if (Clock::now() >= session.nextStates && events.pending == 0)
            sendStates(client, events, session, discovery);
    }
    if (accepted)
        sayGoodbye(client, events, discovery);
    return {};
}

void fail(std::string message)
{
    const std::lock_guard lock(shared.mutex);
    shared.failure = std::move(message);
}

void runClient(const MqttSettings &settings)
{
    Session session;
    int backoff = 1;
    bool unreachableSaid = false;
    while (!stopping()) {
        Events events;
        events.homeAssistantStatus = settings.discovery.prefix + "/status";
        Client client;
        if (const std::string error = makeClient(client, settings, events, "", true); !error.empty())
            return fail(error);
        const int result = mosquitto_connect(client.handle, settings.broker.host.c_str(),
                                             settings.broker.port, keepAliveSeconds);
        const Ending ending =
            result == MOSQ_ERR_SUCCESS
                ? serveConnection(client, events, session, settings)
                : Ending{failureText(result, events, settings.broker), result == MOSQ_ERR_TLS};
        if (ending.fatal)
            return fail(ending.reason);
        if (ending.accepted) {
            backoff = 1;
            unreachableSaid = false;
        }
        std::unique_lock lock(shared.mutex);
        if (shared.stopping)
            return;
        // One line for a stretch of retries, not one for each.
        if (!std::exchange(unreachableSaid, true))
            say("broker unreachable: " + ending.reason + ", trying again in " + std::to_string(backoff) +
                " s");
        shared.wake.wait_for(lock, std::chrono::seconds(backoff), [] { return shared.stopping; });
        backoff = std::min(backoff * 2, longestBackoffSeconds);
    }
}

}  // namespace

bool mqttHasTls()
{
    mosquitto_lib_init();
    Client client;
    client.handle = mosquitto_new(nullptr, true, nullptr);
    // Without TLS the library refuses any settings; with it, it refuses
    // these for giving no CA.
    return client.handle != nullptr && mosquitto_tls_set(client.handle, nullptr, nullptr, nullptr, nullptr,
                                                         nullptr) != MOSQ_ERR_NOT_SUPPORTED;
}

std::string startMqtt(const MqttSettings &settings)
{
    // The settings are checked once here, so that a CA file that cannot be
    // used ends the run at once.
    Events events;
    Client client;
    if (std::string error = makeClient(client, settings, events, "", false); !error.empty())
        return error;
    say("publishing to " + brokerText(settings.broker) + " as " + settings.discovery.node);
    clientThread = std::thread(runClient, settings);
    return {};
}

void offerMqttSnapshot(Snapshot snapshot, Moment at, bool old)
{
    const std::lock_guard lock(shared.mutex);
    shared.snapshot = std::move(snapshot);
    shared.at = at;
    shared.old = old;
    shared.any = true;
}

std::optional<std::string> mqttFailure()
{
    const std::lock_guard lock(shared.mutex);
    return shared.failure;
}

void stopMqtt()
{
    {
        const std::lock_guard lock(shared.mutex);
        shared.stopping = true;
    }
    shared.wake.notify_all();
    if (clientThread.joinable())
        clientThread.join();
}

int removeMqttNode(const MqttSettings &settings)
{
    const auto failed = [](const std::string &message) {
        std::fprintf(stderr, "sensor-watch: %s\n", message.c_str());
        return 1;
    };
    const Discovery &discovery = settings.discovery;
    Events events;
    events.marker = "sensor-bridge/" + discovery.node + "/removing";
    Client client;
    if (const std::string error = makeClient(client, settings, events, "-remove", false); !error.empty())
        return failed(error);
    const std::string broker = brokerText(settings.broker);
    if (const int result = mosquitto_connect(client.handle, settings.broker.host.c_str(),
                                             settings.broker.port, keepAliveSeconds);
        result != MOSQ_ERR_SUCCESS)
        return failed("cannot reach the broker " + broker + ": " +
                      failureText(result, events, settings.broker));
    const auto deadline = Clock::now() + answerWait;
    const auto await = [&](auto condition) {
        while (!condition())
            if (Clock::now() > deadline || mosquitto_loop(client.handle, 100, 1) != MOSQ_ERR_SUCCESS ||
                events.lost)
                return false;
        return true;
    };
    if (!await([&] { return events.connack.has_value(); }))
        return failed("the broker " + broker + " did not answer");
    if (std::optional<Ending> refused = refusal(*events.connack))
        return failed(refused->reason);
    // The broker sends the retained messages of a subscription before what
    // is published after it, so the marker comes back after the last one.
    for (const std::string &filter : nodeTopicFilters(discovery))
        mosquitto_subscribe(client.handle, nullptr, filter.c_str(), 1);
    publish(client, events, events.marker, "", 1, false);
    if (!await([&] { return events.markerSeen; }))
        return failed("the broker " + broker + " did not send the retained topics");
    // An empty retained message removes one, and Home Assistant removes the
    // entity of an empty config.
    for (const std::string &topic : events.retained)
        publish(client, events, topic, "", 1);
    if (!await([&] { return events.pending == 0; }))
        return failed("the broker " + broker + " did not take the removals");
    mosquitto_disconnect(client.handle);
    say("removed " + std::to_string(events.retained.size()) + " retained topics of " + discovery.node +
        " from " + broker);
    return 0;
}

}  // namespace watch
