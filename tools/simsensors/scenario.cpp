#include "tools/simsensors/scenario.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>

namespace simsensors {

std::int32_t sensorCount(const Scenario &scenario)
{
    return scenario.count.value_or(static_cast<std::int32_t>(scenario.sensors.size()));
}

std::int32_t nextIndex(const Sensor &sensor, std::int32_t type)
{
    return static_cast<std::int32_t>(sensor.readings[static_cast<std::size_t>(type - 1)].size());
}

bool addReading(Sensor &sensor, std::int32_t type, std::int32_t index, Reading reading)
{
    auto &slots = sensor.readings[static_cast<std::size_t>(type - 1)];
    const auto slot = static_cast<std::size_t>(index);
    if (slot < slots.size() && slots[slot]) {
        return false;
    }
    if (slot >= slots.size()) {
        slots.resize(slot + 1);
    }
    slots[slot] = std::move(reading);
    return true;
}

const Reading *findReading(const Scenario &scenario, std::int32_t type, std::int32_t sensor,
                           std::int32_t index)
{
    if (type < 1 || type > typeCount || sensor < 0 || sensor >= sensorCount(scenario) ||
        static_cast<std::size_t>(sensor) >= scenario.sensors.size() || index < 0) {
        return nullptr;
    }
    const auto &slots =
        scenario.sensors[static_cast<std::size_t>(sensor)].readings[static_cast<std::size_t>(type - 1)];
    const auto slot = static_cast<std::size_t>(index);
    return slot < slots.size() && slots[slot] ? &*slots[slot] : nullptr;
}

double valueAt(const Reading &reading, std::int32_t sensor, std::int32_t type, std::int32_t index,
               std::uint64_t polls)
{
    if (reading.drift == 0) {
        return reading.value;
    }
    // A phase per reading keeps the readings from moving in step.
    const double phase = 1.3 * sensor + 0.7 * type + 0.37 * index;
    return reading.value + reading.drift * std::sin(0.9 * static_cast<double>(polls) + phase);
}

void generate(Scenario &scenario, std::int32_t sensors, std::int32_t readings)
{
    // A typical magnitude per type, so that generated values look plausible.
    constexpr std::array<double, typeCount> typical = {45, 1.2, 1200, 10, 60, 3600, 40, 1000};
    const std::size_t first = scenario.sensors.size();
    for (std::int32_t i = 0; i < sensors; ++i) {
        scenario.sensors.push_back({"Generated Sensor #" + std::to_string(i), {}});
    }
    for (std::int32_t i = 0; i < readings; ++i) {
        Sensor &sensor = scenario.sensors[first + static_cast<std::size_t>(i % sensors)];
        const std::int32_t nth = i / sensors;
        const std::int32_t type = nth % typeCount + 1;
        // 389 is odd, so stepping by it modulo 1024 reaches every index once.
        const std::int32_t index = nth / typeCount * 389 % readingSlots;
        const double base = typical[static_cast<std::size_t>(type - 1)];
        addReading(sensor, type, index,
                   {"Generated " + std::string(typeNames[static_cast<std::size_t>(type - 1)]) + " " +
                        std::to_string(nth / typeCount),
                    base, base * 0.05, true});
    }
}

namespace {

constexpr std::int64_t int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t int32Max = std::numeric_limits<std::int32_t>::max();

struct Token {
    std::string text;
    bool quoted = false;
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Decodes the quoted string that starts at line[at], leaving at past its
// closing quote. Returns the problem, or an empty string.
std::string readQuoted(std::string_view line, std::size_t &at, std::string &text)
{
    for (++at; at < line.size();) {
        const char c = line[at++];
        if (c == '"') {
            return at < line.size() && !isBlank(line[at]) ? "expected a space after a closing quote" : "";
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (at == line.size())
            break;
        switch (const char escaped = line[at++]) {
        case '\\':
        case '"':
            text += escaped;
            break;
        case 'n':
            text += '\n';
            break;
        case 't':
            text += '\t';
            break;
        case 'x': {
            const int high = at < line.size() ? hexDigit(line[at]) : -1;
            const int low = at + 1 < line.size() ? hexDigit(line[at + 1]) : -1;
            if (high < 0 || low < 0)
                return "\\x needs two hex digits";
            text += static_cast<char>(high * 16 + low);
            at += 2;
            break;
        }
        default:
            return std::string("unknown escape \\") + escaped;
        }
    }
    return "unterminated string";
}

// Splits a line into bare words and decoded quoted strings. A word starting
// with '#' begins a comment.
std::string tokenize(std::string_view line, std::vector<Token> &tokens)
{
    std::size_t at = 0;
    for (;;) {
        while (at < line.size() && isBlank(line[at]))
            ++at;
        if (at == line.size() || line[at] == '#')
            return {};
        Token token;
        if (line[at] == '"') {
            token.quoted = true;
            if (std::string problem = readQuoted(line, at, token.text); !problem.empty())
                return problem;
        } else {
            const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
            token.text = line.substr(at, end - at);
            at = end;
        }
        tokens.push_back(std::move(token));
    }
}

std::optional<std::int64_t> parseInteger(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A decimal number, inf or nan in any sign, or "bits:" and up to 16 hex
// digits of the IEEE-754 pattern.
std::optional<double> parseValue(std::string_view text)
{
    constexpr std::string_view bitsPrefix = "bits:";
    const char *end = text.data() + text.size();
    if (text.starts_with(bitsPrefix)) {
        text.remove_prefix(bitsPrefix.size());
        std::uint64_t bits = 0;
        const auto [last, error] = std::from_chars(text.data(), end, bits, 16);
        if (text.empty() || text.size() > 16 || error != std::errc{} || last != end)
            return std::nullopt;
        return std::bit_cast<double>(bits);
    }
    double value = 0;
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || last != end)
        return std::nullopt;
    return value;
}

// The tokens of one line after its keyword, read in order. Like every step
// of the parser, each read returns the problem it found, or an empty string.
struct Cursor {
    std::span<const Token> tokens;
    std::size_t at = 0;
};

const Token *next(Cursor &cursor)
{
    return cursor.at < cursor.tokens.size() ? &cursor.tokens[cursor.at++] : nullptr;
}

std::string readEnd(Cursor &cursor)
{
    const Token *extra = next(cursor);
    return extra == nullptr ? "" : "unexpected \"" + extra->text + "\" at the end";
}

std::string readInteger(Cursor &cursor, std::string_view what, std::int64_t min, std::int64_t max,
                        std::int32_t &out)
{
    const Token *token = next(cursor);
    const auto value = token && !token->quoted ? parseInteger(token->text) : std::nullopt;
    if (!value || *value < min || *value > max)
        return std::string(what) + " must be an integer from " + std::to_string(min) + " to " +
               std::to_string(max);
    out = static_cast<std::int32_t>(*value);
    return {};
}

// A quoted string, or "fill" and a quoted string repeated to fill the whole
// buffer with no room for a NUL.
std::string readText(Cursor &cursor, std::string_view what, std::size_t capacity, std::string &out)
{
    const Token *token = next(cursor);
    const bool fill = token && !token->quoted && token->text == "fill";
    if (fill)
        token = next(cursor);
    if (!token || !token->quoted)
        return "expected the " + std::string(what) + " in quotes";
    if (fill) {
        if (token->text.empty())
            return "fill needs a non-empty string";
        out.clear();
        while (out.size() < capacity)
            out += token->text;
        out.resize(capacity);
        return {};
    }
    if (token->text.size() >= capacity) {
        return std::string(what) + " is longer than " + std::to_string(capacity - 1) +
               " bytes; use fill for a buffer without NUL";
    }
    out = token->text;
    return {};
}

std::int32_t typeCode(const Token *token)
{
    if (token == nullptr || token->quoted)
        return 0;
    const auto found = std::find(typeNames.begin(), typeNames.end(), token->text);
    return found == typeNames.end() ? 0 : static_cast<std::int32_t>(found - typeNames.begin()) + 1;
}

// reading TYPE [@INDEX] [fill] "LABEL" VALUE [drift AMPLITUDE] [invalid]
std::string parseReading(Cursor &cursor, Scenario &scenario)
{
    if (scenario.sensors.empty())
        return "reading before any sensor";
    Sensor &sensor = scenario.sensors.back();
    const std::int32_t type = typeCode(next(cursor));
    if (type == 0) {
        return "expected a reading type: temperature, voltage, fan, current, power, clock, usage or "
               "other";
    }
    std::int32_t index = nextIndex(sensor, type);
    if (cursor.at < cursor.tokens.size() && !cursor.tokens[cursor.at].quoted &&
        cursor.tokens[cursor.at].text.starts_with('@')) {
        const auto explicitIndex = parseInteger(std::string_view(next(cursor)->text).substr(1));
        if (!explicitIndex || *explicitIndex < 0 || *explicitIndex >= readingSlots) {
            return "reading index must be an integer from 0 to 1023";
        }
        index = static_cast<std::int32_t>(*explicitIndex);
    } else if (index >= readingSlots) {
        return "no reading index after 1023 is left for this type";
    }
    Reading reading;
    if (std::string problem = readText(cursor, "label", labelCapacity, reading.label); !problem.empty())
        return problem;
    const Token *valueToken = next(cursor);
    const auto value = valueToken && !valueToken->quoted ? parseValue(valueToken->text) : std::nullopt;
    if (!value)
        return "expected a value: a decimal number, inf, -inf, nan, -nan or bits:HEX";
    reading.value = *value;
    while (const Token *option = next(cursor)) {
        if (!option->quoted && option->text == "invalid") {
            reading.valid = false;
        } else if (!option->quoted && option->text == "drift") {
            const Token *amplitude = next(cursor);
            const auto drift = amplitude && !amplitude->quoted ? parseValue(amplitude->text) : std::nullopt;
            if (!drift || !std::isfinite(*drift))
                return "drift must be a finite number";
            reading.drift = *drift;
        } else {
            return "unexpected \"" + option->text + "\"; expected drift or invalid";
        }
    }
    if (!addReading(sensor, type, index, std::move(reading))) {
        return std::string(typeNames[static_cast<std::size_t>(type - 1)]) + " reading index " +
               std::to_string(index) + " is already used by this sensor";
    }
    return {};
}

std::string parseLine(std::span<const Token> tokens, Scenario &scenario)
{
    const Token &keyword = tokens.front();
    Cursor cursor{tokens.subspan(1), 0};
    if (keyword.quoted)
        return "expected a keyword, found a string";
    if (keyword.text == "sensor") {
        Sensor sensor;
        std::string problem = readText(cursor, "sensor name", nameCapacity, sensor.name);
        if (problem.empty())
            problem = readEnd(cursor);
        if (problem.empty())
            scenario.sensors.push_back(std::move(sensor));
        return problem;
    }
    if (keyword.text == "reading")
        return parseReading(cursor, scenario);
    if (keyword.text == "count") {
        std::int32_t count = 0;
        std::string problem = readInteger(cursor, "count", int32Min, int32Max, count);
        if (problem.empty())
            problem = readEnd(cursor);
        if (problem.empty())
            scenario.count = count;
        return problem;
    }
    if (keyword.text == "init-fail") {
        std::string problem = readInteger(cursor, "init-fail error", 1, int32Max, scenario.initError);
        return problem.empty() ? readEnd(cursor) : problem;
    }
    if (keyword.text == "generate") {
        std::int32_t sensors = 0;
        std::int32_t readings = 0;
        std::string problem = readInteger(cursor, "generated sensors", 1, maxGeneratedSensors, sensors);
        if (problem.empty())
            problem = readInteger(cursor, "generated readings", 0, maxGeneratedReadings, readings);
        if (problem.empty())
            problem = readEnd(cursor);
        if (!problem.empty())
            return problem;
        if (readings > std::int64_t{sensors} * typeCount * readingSlots) {
            return "generated readings exceed 8192 per sensor";
        }
        generate(scenario, sensors, readings);
        return {};
    }
    return "unknown keyword \"" + keyword.text + "\"";
}

}  // namespace

Scenario defaultScenario()
{
    return parseScenario(defaultScenarioText).scenario;
}

ParseResult parseScenario(std::string_view text)
{
    ParseResult result;
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        // Files written on Windows keep working.
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        std::vector<Token> tokens;
        std::string problem = tokenize(line, tokens);
        if (problem.empty() && !tokens.empty())
            problem = parseLine(tokens, result.scenario);
        if (!problem.empty())
            return {{}, number, std::move(problem)};
    }
    return result;
}

LoadResult loadScenarioFile(const char *path)
{
    const std::string prefix = std::string("simsensors: scenario file ") + path + ": ";
    errno = 0;
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        const int error = errno != 0 ? errno : ENOENT;
        return {{}, error, prefix + std::strerror(error)};
    }
    std::string text;
    std::array<char, 4096> chunk{};
    while (const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file)) {
        text.append(chunk.data(), got);
    }
    const int readError = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(file);
    if (readError != 0)
        return {{}, readError, prefix + std::strerror(readError)};
    ParseResult parsed = parseScenario(text);
    if (parsed.line != 0) {
        return {{},
                EINVAL,
                std::string("simsensors: ") + path + ":" + std::to_string(parsed.line) + ": " +
                    parsed.problem};
    }
    return {std::move(parsed.scenario), 0, {}};
}

}  // namespace simsensors
