#include "watch/page_json.h"

#include "watch/units.h"
#include "watch/utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

namespace watch {
namespace {

// The documents are written straight into their text, member by member in
// the order of the names, and with the forms that the page has always been
// given: compact, UTF-8 left as it is (it is valid by then), numbers with 15
// significant digits.

constexpr char hexDigits[] = "0123456789abcdef";

// A string between quotes: the quote, the backslash and the bytes below 0x20
// escaped (the usual ones by letter, the rest as \u00xx), the rest as they are.
void appendString(std::string &out, std::string_view text)
{
    out += '"';
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += hexDigits[c >> 4];
            out += hexDigits[c & 0xf];
        }
    }
    out.append(text.substr(plain));
    out += '"';
}

void appendUnsigned(std::string &out, std::uint64_t value)
{
    char buffer[24];
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

// A number as printf's "%.15g" writes it, with ".0" added to what has neither
// a point nor an exponent, so that it reads as a real; JSON has no infinity,
// so those are written as numbers too large for any reader's double.
void appendDouble(std::string &out, double value)
{
    if (!std::isfinite(value)) {
        out += std::isnan(value) ? "null" : value < 0 ? "-1e+9999" : "1e+9999";
        return;
    }
    char buffer[32];
    const std::string_view text(
        buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr);
    out += text;
    if (text.find_first_of(".e") == std::string_view::npos)
        out += ".0";
}

// A number, or null when there is none.
void appendNumber(std::string &out, bool present, double value)
{
    if (present)
        appendDouble(out, value);
    else
        out += "null";
}

void appendBool(std::string &out, bool value)
{
    out += value ? "true" : "false";
}

// A history value: the double of the float's shortest decimal form, as
// appendDouble writes it, so that 41.3f is written as 41.3 rather than
// 41.2999992370605. That form has at most 15 significant digits, so "%.15g"
// gives its digits back unchanged, only laid out anew; that is done here on
// the digits, which costs a fraction of formatting the double again.
void appendSample(std::string &out, float value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char shortest[32];
    const std::string_view text(shortest, std::to_chars(shortest, shortest + sizeof shortest, value).ptr);
    // The significant digits, and the power of ten of the first.
    char digits[32];
    std::size_t count = 0;
    int exponent = -1;
    bool point = false;
    std::size_t i = text.starts_with('-') ? 1 : 0;
    for (; i < text.size() && text[i] != 'e'; ++i) {
        if (text[i] == '.') {
            point = true;
        } else if (count > 0 || text[i] != '0') {
            digits[count++] = text[i];
            exponent += point ? 0 : 1;
        } else if (point) {
            --exponent;
        }
    }
    if (i < text.size()) {
        const bool negative = text[i + 1] == '-';
        int power = 0;
        std::from_chars(text.data() + i + 2, text.data() + text.size(), power);
        exponent += negative ? -power : power;
    }
    while (count > 0 && digits[count - 1] == '0')
        --count;
    if (text.starts_with('-'))
        out += '-';
    if (count == 0) {
        out += "0.0";
    } else if (exponent < -4 || exponent >= 15) {
        out += digits[0];
        if (count > 1) {
            out += '.';
            out.append(digits + 1, count - 1);
        }
        out += exponent < 0 ? "e-" : "e+";
        const int power = std::abs(exponent);
        if (power < 10)
            out += '0';
        appendUnsigned(out, static_cast<std::uint64_t>(power));
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(digits, count);
    } else {
        const auto whole = static_cast<std::size_t>(exponent) + 1;
        out.append(digits, std::min(count, whole));
        out.append(whole > count ? whole - count : 0, '0');
        out += '.';
        if (count > whole)
            out.append(digits + whole, count - whole);
        else
            out += '0';
    }
}

double milliseconds(double unixTime)
{
    return std::round(unixTime * 1000) / 1000;
}

// A number as shown in its type's unit, or null when there is none.
void appendShown(std::string &out, std::string_view type, bool present, double value)
{
    if (present)
        appendString(out, shownNumber(type, value));
    else
        out += "null";
}

void appendReading(std::string &out, const Readings &readings, const TrackedReading &tracked, bool withUnits)
{
    const ReadingStatistics &statistics = tracked.statistics;
    const bool any = statistics.count > 0;
    const double mean = any ? *average(statistics) : 0;
    const Reading &reading = readingOf(readings, tracked);
    out += "{\"average\":";
    appendNumber(out, any, mean);
    out += ",\"id\":";
    appendUnsigned(out, tracked.id);
    out += ",\"label\":";
    appendString(out, tracked.served.label);
    out += ",\"max\":";
    appendNumber(out, any, statistics.maximum);
    out += ",\"min\":";
    appendNumber(out, any, statistics.minimum);
    out += ",\"number\":";
    appendNumber(out, std::isfinite(tracked.number), tracked.number);
    if (withUnits) {
        out += ",\"shown\":{\"average\":";
        appendShown(out, reading.type, any, mean);
        out += ",\"max\":";
        appendShown(out, reading.type, any, statistics.maximum);
        out += ",\"min\":";
        appendShown(out, reading.type, any, statistics.minimum);
        out += ",\"value\":";
        appendString(out, wellFormedUtf8(shownValue(reading.type, reading.value)));
        out += '}';
    }
    out += ",\"type\":";
    appendString(out, tracked.served.type);
    out += ",\"value\":";
    appendString(out, wellFormedUtf8(reading.value));
    out += '}';
}

}  // namespace

std::string renderSnapshotJson(const Readings &readings, bool withUnits)
{
    std::string out;
    // About what a reading takes, so that the text is seldom moved as it grows.
    out.reserve(256 + readings.readings.size() * (withUnits ? 320 : 224));
    out += "{\"old\":";
    appendBool(out, readings.old);
    out += ",\"sensors\":[";
    std::size_t next = 0;
    for (std::size_t index = 0; index < readings.snapshot.sensors.size(); ++index) {
        const Sensor &sensor = readings.snapshot.sensors[index];
        out += index == 0 ? "{\"name\":" : ",{\"name\":";
        appendString(out, wellFormedUtf8(sensor.name));
        out += ",\"noReading\":";
        appendBool(out, sensor.noReading);
        out += ",\"readings\":[";
        for (bool first = true; next < readings.readings.size() && readings.readings[next].sensor == index;
             ++next, first = false) {
            if (!first)
                out += ',';
            appendReading(out, readings, readings.readings[next], withUnits);
        }
        out += "]}";
    }
    out += "],\"sequence\":";
    appendUnsigned(out, readings.sequence);
    out += ",\"time\":";
    appendDouble(out, milliseconds(readings.recordedAt.unixTime));
    if (withUnits) {
        // Each type's symbol, by the type's name.
        std::array sorted = units;
        std::ranges::sort(sorted, {}, &Unit::type);
        out += ",\"units\":{";
        for (const Unit &unit : sorted) {
            if (&unit != sorted.data())
                out += ',';
            appendString(out, unit.type);
            out += ':';
            appendString(out, unit.symbol);
        }
        out += '}';
    }
    out += '}';
    return out;
}

std::string renderStatusJson(std::uint64_t sequence, const std::optional<SnapshotAge> &age)
{
    std::string out = "{";
    if (age) {
        out += "\"age\":";
        appendDouble(out, std::round(age->seconds * 10) / 10);
        out += ',';
    }
    out += "\"fresh\":";
    appendBool(out, isFresh(age));
    if (age) {
        out += ",\"old\":";
        appendBool(out, age->old);
    }
    out += ",\"sequence\":";
    appendUnsigned(out, sequence);
    out += '}';
    return out;
}

std::string renderHistoryJson(const Readings &readings, std::span<const std::uint64_t> ids,
                              std::size_t points)
{
    const HistorySelection selection = selectHistory(readings, ids, points);
    const auto times = latest(readings.times, selection.points);
    std::size_t values = 0;
    for (const TrackedReading *reading : selection.readings)
        values += std::min(selection.points, reading->values.values.size());
    // The longest value ("-1.2345678e-38") and its comma, and the longest
    // time: the text is made once, never moved as it grows.
    std::string out;
    out.reserve(64 + selection.readings.size() * 40 + values * 15 + (times[0].size() + times[1].size()) * 24);
    out += "{\"readings\":[";
    for (const TrackedReading *reading : selection.readings) {
        out += reading == selection.readings.front() ? "{\"id\":" : ",{\"id\":";
        appendUnsigned(out, reading->id);
        out += ",\"values\":[";
        bool first = true;
        for (const std::span<const float> part : latest(reading->values, selection.points)) {
            for (const float value : part) {
                if (!std::exchange(first, false))
                    out += ',';
                appendSample(out, value);
            }
        }
        out += "]}";
    }
    out += "],\"sequence\":";
    appendUnsigned(out, readings.sequence);
    out += ",\"times\":[";
    bool first = true;
    for (const std::span<const double> part : times) {
        for (const double time : part) {
            if (!std::exchange(first, false))
                out += ',';
            appendDouble(out, milliseconds(time));
        }
    }
    out += "]}";
    return out;
}

std::string renderErrorJson(std::string_view message)
{
    std::string out = "{\"error\":";
    appendString(out, wellFormedUtf8(message));
    out += '}';
    return out;
}

}  // namespace watch
