// sensor-watch's command line.
#pragma once

#include "watch/address.h"
#include "watch/block_layout.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace watch {

enum class Mode { table, raw, json };

// Publishing to an MQTT broker for Home Assistant (see mqtt_client.h).
struct MqttOptions {
    // Present only with --mqtt; a port of 0 was not given.
    std::optional<Endpoint> broker;
    std::string user;
    // The first line of --mqtt-password-file.
    std::string password;
    std::string caFile;
    std::string prefix = "homeassistant";
    int everySeconds = 10;
    // As given; empty for the host name.
    std::string node;
    bool remove = false;
};

struct Options {
    Mode mode = Mode::table;
    bool once = false;
    std::string dumpPath;
    // Zero means wait for ever.
    double timeoutSeconds = 0;
    std::size_t size = blockSize;
    // Where to serve; present only in serve mode, which then replaces the
    // printed output.
    std::optional<Endpoint> endpoint;
    // Names that a request's Host may give besides the loopback ones (see
    // HostCheck).
    std::vector<std::string> allowHosts;
    // Whether the table and the page show values in their type's unit.
    bool units = true;
    // The CSV log of every snapshot (none when empty), and the least time
    // between its rows (none when 0).
    std::string csvPath;
    double csvEverySeconds = 0;
    MqttOptions mqtt;
};

// Reads the command line into `options`, each value parsed once. Returns the
// exit status when the run ends here: 0 after the help or the version, which
// go to standard output, and 2 after a bad option, which is reported on
// standard error.
std::optional<int> parseOptions(int argc, char **argv, Options &options);

}  // namespace watch
