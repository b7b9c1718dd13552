// A real MQTT broker for the tests (Debian's mosquitto) on a free loopback
// port with a configuration of its own, and a test client that reads what
// the broker retains.
#pragma once

#include "testing/child_process.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Whether the broker and the tools the tests need are installed; a suite
// skips when not.
bool brokerInstalled();

// mosquitto without persistence, so that a restart forgets every retained
// message; `extra` goes into its configuration (listener options, a password
// file). Started again on the same port with restart().
struct Broker {
    explicit Broker(std::string_view extra = "allow_anonymous true\n");
    void restart();
    int port = 0;
    TextFile configuration{"mosquitto.conf", ""};
    std::unique_ptr<Running> process;
};

// Every retained message under the filters, by topic: what a client that
// subscribes now is sent before anything published later.
std::map<std::string, std::string> retained(int port, const std::vector<std::string> &filters);

// Publishes one message with QoS 1 and waits until the broker has it.
void publishTo(int port, const std::string &topic, std::string_view payload, bool retain);
