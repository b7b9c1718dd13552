// sensor-watch's MQTT client (libmosquitto): publishes the snapshots that the
// watch loop hands over to a broker, with Home Assistant's discovery (see
// mqtt_topics.h). One thread of its own drives the library with
// mosquitto_loop(), which the Windows build of libmosquitto 2.0 needs (it has
// no mosquitto_loop_start), so that a slow or absent broker never holds up
// the copying of the block, the HTTP server or the table.
#pragma once

#include "watch/address.h"
#include "watch/block_reader.h"
#include "watch/mqtt_topics.h"
#include "watch/readings.h"

#include <optional>
#include <string>

namespace watch {

struct MqttSettings {
    Endpoint broker;
    std::string user;
    std::string password;
    // TLS, verifying the broker against this CA, when given.
    std::string caFile;
    Discovery discovery;
};

// Whether this build's libmosquitto has TLS (the Windows build has none).
bool mqttHasTls();

// Starts the client's thread, which connects and keeps trying with a back-off
// of 1 to 30 seconds; returns why it could not start, or nothing.
std::string startMqtt(const MqttSettings &settings);

// Hands a new snapshot to the client, which publishes it in its own time;
// never waits for the network.
void offerMqttSnapshot(Snapshot snapshot, Moment at, bool old);

// The configuration error that ended the client (the broker refused the
// credentials, or TLS could not verify it), once there is one.
std::optional<std::string> mqttFailure();

// Says "offline" on the status topic, disconnects and ends the thread.
void stopMqtt();

// Clears every retained topic of the node on the broker, configs, states and
// availability, so that Home Assistant removes the entities; returns the exit
// status.
int removeMqttNode(const MqttSettings &settings);

}  // namespace watch
