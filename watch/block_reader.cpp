#include "watch/block_reader.h"

#include "watch/utf8.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <utility>

namespace watch {
namespace {

ReadResult reject(BlockStatus status, std::string error)
{
    return {status, std::move(error), {}};
}

std::string quoted(std::string_view name)
{
    return '"' + printable(name) + '"';
}

// Reads the one shape that the block's text has: null, or an object whose
// members are null or arrays of objects with one member, {label: {"type":
// string, "value": string}}. It reads JSON as strictly as a strict reader
// (no comments, no trailing commas, nothing after the value), with the same
// strings: raw bytes as they are, every escape decoded, "\u" pairs joined.
// What is not JSON sets `syntax`; JSON of another shape sets `shape` at the
// first value out of place. Either ends the reading.
struct Parser {
    std::string_view text;
    std::size_t at = 0;
    std::string syntax{};
    std::string shape{};
};

bool failSyntax(Parser &parser, std::string_view expected)
{
    parser.syntax = "at byte " + std::to_string(parser.at) + ": expected " + std::string(expected);
    return false;
}

bool failShape(Parser &parser, std::string problem)
{
    parser.shape = std::move(problem);
    return false;
}

// The next byte after JSON's whitespace, or 0 at the end.
char next(Parser &parser)
{
    while (parser.at < parser.text.size()) {
        const char c = parser.text[parser.at];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return c;
        ++parser.at;
    }
    return 0;
}

// Takes the next byte when it is `c`.
bool take(Parser &parser, char c)
{
    if (next(parser) != c)
        return false;
    ++parser.at;
    return true;
}

bool literalNull(Parser &parser)
{
    if (parser.text.substr(parser.at, 4) != "null")
        return failSyntax(parser, "a JSON value");
    parser.at += 4;
    return true;
}

void appendUtf8(std::string &out, unsigned code)
{
    const int continuations = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    constexpr unsigned leads[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(leads[continuations] | (code >> (6 * continuations)));
    for (int shift = 6 * (continuations - 1); shift >= 0; shift -= 6)
        out += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}

// Four hexadecimal digits after "\u".
bool hexQuad(Parser &parser, unsigned &code)
{
    const std::string_view digits = parser.text.substr(parser.at, 4);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, 16);
    if (digits.size() < 4 || error != std::errc{} || end != digits.data() + 4)
        return failSyntax(parser, "four hexadecimal digits");
    parser.at += 4;
    return true;
}

// A string at the next byte, decoded into `out`.
bool readString(Parser &parser, std::string &out)
{
    out.clear();
    if (!take(parser, '"'))
        return failSyntax(parser, "a string");
    const std::string_view text = parser.text;
    for (;;) {
        const std::size_t stop = text.find_first_of("\"\\", parser.at);
        if (stop == std::string_view::npos) {
            parser.at = text.size();
            return failSyntax(parser, "the end of a string");
        }
        out.append(text.substr(parser.at, stop - parser.at));
        parser.at = stop + 1;
        if (text[stop] == '"')
            return true;
        const char escape = parser.at < text.size() ? text[parser.at++] : '\0';
        static constexpr std::string_view escapes = "\"\\/bfnrt";
        static constexpr std::string_view meanings = "\"\\/\b\f\n\r\t";
        unsigned code = 0;
        if (const std::size_t found = escapes.find(escape); found != std::string_view::npos) {
            out += meanings[found];
        } else if (escape != 'u' || !hexQuad(parser, code)) {
            return parser.syntax.empty() ? failSyntax(parser, "an escape") : false;
        } else if (code >= 0xD800 && code <= 0xDBFF) {
            // The first half of a pair: the second follows as "\u" too.
            unsigned low = 0;
            if (text.substr(parser.at, 2) != "\\u")
                return failSyntax(parser, "the second half of a surrogate pair");
            parser.at += 2;
            if (!hexQuad(parser, low))
                return false;
            appendUtf8(out, 0x10000 + ((code & 0x3FF) << 10) + (low & 0x3FF));
        } else {
            appendUtf8(out, code);
        }
    }
}

constexpr std::string_view bodyProblem = " does not hold exactly a string \"type\" and a string \"value\"";

// {"type": string, "value": string}, in either order.
bool readBody(Parser &parser, Reading &reading)
{
    if (!take(parser, '{'))
        return failShape(parser, "label " + quoted(reading.label) + std::string(bodyProblem));
    std::string key;
    bool type = false;
    bool value = false;
    for (bool more = next(parser) != '}'; more; more = take(parser, ',')) {
        if (!readString(parser, key))
            return false;
        if (!take(parser, ':'))
            return failSyntax(parser, "':'");
        bool &seen = key == "type" ? type : value;
        if (seen || (key != "type" && key != "value") || next(parser) != '"')
            return failShape(parser, "label " + quoted(reading.label) + std::string(bodyProblem));
        seen = true;
        if (!readString(parser, &seen == &type ? reading.type : reading.value))
            return false;
    }
    if (!take(parser, '}'))
        return failSyntax(parser, "',' or '}'");
    return type && value ? true
                         : failShape(parser, "label " + quoted(reading.label) + std::string(bodyProblem));
}

// [{label: body}, ...] of one sensor.
bool readReadings(Parser &parser, Sensor &sensor)
{
    ++parser.at;
    for (bool more = next(parser) != ']'; more; more = take(parser, ',')) {
        Reading &reading = sensor.readings.emplace_back();
        const auto where = [&] {
            return "sensor " + quoted(sensor.name) + " reading " + std::to_string(sensor.readings.size()) +
                   ' ';
        };
        if (!take(parser, '{') || next(parser) == '}')
            return failShape(parser, where() + "is not an object with exactly one member");
        if (!readString(parser, reading.label))
            return false;
        if (!take(parser, ':'))
            return failSyntax(parser, "':'");
        if (!readBody(parser, reading)) {
            if (!parser.shape.empty())
                parser.shape.insert(0, where());
            return false;
        }
        if (next(parser) == ',')
            return failShape(parser, where() + "is not an object with exactly one member");
        if (!take(parser, '}'))
            return failSyntax(parser, "'}'");
    }
    return take(parser, ']') ? true : failSyntax(parser, "',' or ']'");
}

bool readSensors(Parser &parser, std::vector<Sensor> &sensors)
{
    if (next(parser) == 'n')
        return literalNull(parser);
    if (!take(parser, '{'))
        return failShape(parser, "the root is neither an object nor null");
    for (bool more = next(parser) != '}'; more; more = take(parser, ',')) {
        Sensor &sensor = sensors.emplace_back();
        if (!readString(parser, sensor.name))
            return false;
        if (!take(parser, ':'))
            return failSyntax(parser, "':'");
        const char c = next(parser);
        if (c == 'n') {
            sensor.noReading = true;
            if (!literalNull(parser))
                return false;
        } else if (c != '[') {
            return failShape(parser, "sensor " + quoted(sensor.name) + " is neither an array nor null");
        } else if (!readReadings(parser, sensor)) {
            return false;
        }
    }
    if (!take(parser, '}'))
        return failSyntax(parser, "',' or '}'");
    // Sensors in the order of their names' bytes, each name once.
    std::ranges::stable_sort(sensors, {}, &Sensor::name);
    const auto twice = std::ranges::adjacent_find(sensors, {}, &Sensor::name);
    return twice == sensors.end() ? true
                                  : failShape(parser, "sensor " + quoted(twice->name) + " appears twice");
}

// Parses the text into sensors; an error saying what is wrong, or nothing.
std::string parseText(std::string_view text, std::vector<Sensor> &sensors, bool terminated)
{
    // A byte order mark may lead the text.
    Parser parser{text, text.starts_with("\xEF\xBB\xBF") ? 3u : 0u};
    if (readSensors(parser, sensors) && next(parser) != '\0')
        failSyntax(parser, "the end of the text");
    if (!parser.shape.empty())
        return "unexpected JSON shape: " + parser.shape;
    if (!parser.syntax.empty() && !terminated)
        return "text not terminated (the block is full, the text clipped): " + parser.syntax;
    return parser.syntax;
}

}  // namespace

ReadResult readBlock(std::span<const std::byte> copy)
{
    const std::string_view block(reinterpret_cast<const char *>(copy.data()), copy.size());
    if (!block.starts_with(blockHeader))
        return reject(BlockStatus::noHeader, "no header");

    // The text runs up to the first zero byte, or to the end of a block that
    // was filled to the brim, and starts after the last line feed before that.
    const std::size_t nul = block.find('\0', blockHeader.size());
    const bool terminated = nul != std::string_view::npos;
    const std::string_view content = block.substr(0, terminated ? nul : block.size());
    const std::size_t textStart = content.rfind('\n') + 1;
    const std::string_view text = content.substr(textStart);
    if (text.empty())
        return reject(BlockStatus::invalid, "the JSON text is empty");

    ReadResult result{BlockStatus::valid, {}, {}};
    if (std::string error = parseText(text, result.snapshot.sensors, terminated); !error.empty())
        return reject(BlockStatus::invalid, std::move(error));

    std::string_view names = content.substr(blockHeader.size(), textStart - blockHeader.size());
    while (!names.empty()) {
        const std::size_t end = names.find('\n');
        result.snapshot.nameLines.emplace_back(names.substr(0, end));
        names.remove_prefix(end + 1);
    }
    result.snapshot.text = text;
    return result;
}

}  // namespace watch
