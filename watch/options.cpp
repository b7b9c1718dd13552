#include "watch/options.h"

#include "watch/mqtt_client.h"
#include "watch/mqtt_topics.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>

namespace watch {
namespace {

// The first line of a file, without its line end, or nothing when the file
// cannot be read.
std::optional<std::string> firstLine(std::string_view path)
{
    std::ifstream file{std::string(path), std::ios::binary};
    std::string line;
    if (!file || (!std::getline(file, line) && !file.eof()))
        return std::nullopt;
    if (line.ends_with('\r'))
        line.pop_back();
    return line;
}

// A number above zero, such as 0.5 or 1e6, or nothing.
template <typename Number> std::optional<Number> positive(std::string_view text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !(value > 0))
        return std::nullopt;
    return value;
}

// A time limit: a number of seconds above 0 and below about 30 years, which
// a clock's duration holds.
std::optional<double> seconds(std::string_view text)
{
    const std::optional<double> value = positive<double>(text);
    return value && *value < 1e9 ? value : std::nullopt;
}

// A check that reads the option's text into `target`, so that each value is
// parsed once, here; CLI11 reports the message it returns.
template <typename Value, typename Parse>
CLI::Validator reading(Value &target, Parse parse, std::string_view expected)
{
    return CLI::Validator(
        [&target, parse, expected](std::string &text) {
            auto value = parse(text);
            if (value)
                target = *value;
            return value ? std::string() : "expected " + std::string(expected) + ", not " + text;
        },
        "");
}

void declareMqttOptions(CLI::App &app, Options &options, std::initializer_list<CLI::Option *> printing)
{
    MqttOptions &mqtt = options.mqtt;
    CLI::Option *broker =
        app.add_option("--mqtt")
            ->description(
                "publish the readings to this MQTT broker with Home Assistant's discovery (port 1883, "
                "or 8883 with --mqtt-ca); beside --serve or alone")
            ->type_name("HOST[:PORT]")
            ->check(reading(mqtt.broker, parseBroker, "HOST[:PORT]"));
    for (CLI::Option *option : printing)
        broker->excludes(option);
    app.add_option("--mqtt-user", mqtt.user, "log in to the broker as NAME")
        ->type_name("NAME")
        ->needs(broker);
    app.add_option("--mqtt-password-file")
        ->description("the broker's password: the first line of FILE")
        ->type_name("FILE")
        ->check(reading(mqtt.password, firstLine, "a file that can be read"))
        ->needs(broker);
    // Asked only when the option is given, so that other runs never start
    // the library.
    app.add_option("--mqtt-ca")
        ->description("TLS, verifying the broker against the CA certificates in FILE (port 8883)")
        ->type_name("FILE")
        ->check(CLI::Validator(
            [&mqtt](std::string &text) {
                mqtt.caFile = text;
                return mqttHasTls() ? std::string()
                                    : "this build of sensor-watch has no TLS, so --mqtt-ca is not available";
            },
            ""))
        ->needs(broker);
    app.add_option("--mqtt-prefix")
        ->description("Home Assistant's discovery prefix (default: homeassistant)")
        ->type_name("PREFIX")
        ->check(reading(
            mqtt.prefix,
            [](std::string_view text) {
                return validPrefix(text) ? std::optional(std::string(text)) : std::nullopt;
            },
            "a topic without '+', '#' or empty levels"))
        ->needs(broker);
    app.add_option("--mqtt-every")
        ->description("seconds between the state messages (default: 10)")
        ->type_name("SECONDS")
        ->check(reading(
            mqtt.everySeconds,
            [](std::string_view text) {
                const std::optional<int> value = positive<int>(text);
                return value && *value <= 86400 ? value : std::nullopt;
            },
            "a whole number of seconds from 1 to 86400"))
        ->needs(broker);
    app.add_option("--mqtt-node", mqtt.node, "this machine's name in the topics (default: the host name)")
        ->type_name("NAME")
        ->needs(broker);
    app.add_flag(
           "--mqtt-remove", mqtt.remove,
           "clear this node's retained topics on the broker, which removes it from Home Assistant, and exit")
        ->needs(broker)
        ->excludes("--serve");
}

// Declares the options, each read into `options` once.
void declareOptions(CLI::App &app, Options &options)
{
    app.description("Opens the shared block \"shareMemory_QORAInfo\" as it is, or creates it when none "
                    "exists (and then removes it on exit), and shows every new valid snapshot the bridge "
                    "publishes in it: by default as a table grouped by sensor, redrawn for each snapshot.");
    CLI::Option *raw = app.add_flag_callback(
        "--raw", [&] { options.mode = Mode::raw; },
        "the name lines and the JSON text as they are in the block");
    CLI::Option *json = app.add_flag_callback(
        "--json", [&] { options.mode = Mode::json; }, "only the JSON text, one line per snapshot");
    json->excludes(raw);
    app.add_flag_callback(
           "--no-units", [&] { options.units = false; },
           "show and serve values as published, without the vendor library's default units and "
           "rounding, the metrics as one family, sensor_bridge_reading")
        ->excludes(raw)
        ->excludes(json);
    CLI::Option *once = app.add_flag("--once", options.once, "exit after the first valid snapshot");
    CLI::Option *dump = app.add_option("--dump", options.dumpPath,
                                       "write that snapshot's whole block copy to FILE (implies --once)")
                            ->type_name("FILE");
    app.add_option("--timeout")
        ->description("exit 1 after this long without a valid snapshot")
        ->type_name("SECONDS")
        ->check(reading(options.timeoutSeconds, seconds, "a number of seconds above 0 and below 1e9"));
    app.add_option("--size")
        ->description("create the block with this size instead of 1 MiB (only when none exists)")
        ->type_name("BYTES")
        ->check(reading(options.size, positive<std::size_t>, "a number of bytes above 0"));
    CLI::Option *serve =
        app.add_option("--serve")
            ->description(
                "serve the readings as Prometheus metrics at /metrics (numeric address, 127.0.0.1 unless "
                "given; [::1] for IPv6; port 0 for any free one; not in builds made without libmicrohttpd)")
            ->type_name("[ADDRESS:]PORT")
            ->check(reading(options.endpoint, parseEndpoint, "[ADDRESS:]PORT"))
            ->excludes(raw)
            ->excludes(json)
            ->excludes(once)
            ->excludes(dump);
    app.add_option("--allow-host", options.allowHosts)
        ->description("answer requests whose Host is NAME too; bound to a loopback address only localhost "
                      "and loopback addresses are answered otherwise, bound to another any name (repeatable)")
        ->type_name("NAME")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->needs(serve);
    declareMqttOptions(app, options, {raw, json, once, dump});
}

// The log, which goes with every other mode.
void declareLogOptions(CLI::App &app, Options &options)
{
    CLI::Option *csv =
        app.add_option(
               "--csv", options.csvPath,
               "append a row per new snapshot to the CSV file FILE, or to FILE-2, FILE-3 ... when the "
               "readings are other than those in it")
            ->type_name("FILE");
    app.add_option("--csv-every")
        ->description("with --csv: at most one row per this many seconds, the last snapshot of each")
        ->type_name("SECONDS")
        ->check(reading(options.csvEverySeconds, seconds, "a number of seconds above 0 and below 1e9"))
        ->needs(csv);
}

}  // namespace

std::optional<int> parseOptions(int argc, char **argv, Options &options)
{
    CLI::App app("", "sensor-watch");
    app.set_version_flag("--version", "sensor-watch " SENSOR_BRIDGE_VERSION, "show the version");
    declareOptions(app, options);
    declareLogOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        // Help goes to standard output with status 0; a bad option is
        // reported on standard error with status 2.
        return app.exit(error) == 0 ? 0 : 2;
    }
    if (!options.dumpPath.empty())
        options.once = true;
    if (options.mqtt.broker && options.mqtt.broker->port == 0)
        options.mqtt.broker->port = options.mqtt.caFile.empty() ? 1883 : 8883;
    return std::nullopt;
}

}  // namespace watch
