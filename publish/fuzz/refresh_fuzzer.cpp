// The refresh under libFuzzer. Each input becomes a sensor library: plain
// entry functions over the scenario decoded from it. The refresh runs into a
// 1 MiB region between two inaccessible guard pages, so that any write past
// either end of the block crashes at once, and the block it leaves is then
// compared with the one built here, independently, from the decoded scenario.
//
// Input layout; bytes missing at the end of the input read as zero.
//
//   count           int32, little-endian: what the count entry reports, but
//                   never more than maxReportedSensors (see below).
//   then, for up to maxDescribedSensors sensors, until the input ends:
//     name form     1 byte, low two bits: 0 or 3 the bytes and a NUL when
//                   shorter than the buffer; 1 the bytes repeated to fill the
//                   buffer without a NUL; 2 nothing written at all.
//     name length   2 bytes, little-endian, modulo 1100; then the bytes.
//     readings      1 byte: how many reading descriptions follow.
//     each reading:
//       type        1 byte, modulo 8, plus 1.
//       index       2 bytes, little-endian, modulo 1024.
//       run         1 byte: the reading fills this many slots (0 counts as
//                   1) in collection order from its own, so that a short
//                   input can pass 1 MiB of text.
//       valid       int32, little-endian: the record's valid flag.
//       value       8 bytes: the value's bit pattern, little-endian.
//       label       1 byte: below 0x80 the length of the bytes that follow,
//                   written with a NUL; from 0x80 the length (less 0x80) of
//                   a pattern that follows and is repeated to fill the
//                   label without a NUL.
//   A later reading takes over the slots of an earlier one it overlaps.
//
// The count is capped in the table, not in the refresh: every sensor costs
// 8192 reading calls, so a count near 2^31 would make one run last for hours,
// as it would for the program itself, which trusts the library's count.
// A count above the described sensors gives sensors with empty names and no
// readings, as the simulated library does.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <json/json.h>

#include <sys/mman.h>
#include <unistd.h>

#include "publish/snapshot_block.h"
#include "sensors/sensor_library.h"

namespace {

constexpr std::int32_t maxDescribedSensors = 3;
constexpr std::int32_t maxReportedSensors = 4;
constexpr std::size_t typesPerIndex = lastReadingType - firstReadingType + 1;
constexpr std::size_t slotsPerSensor = readingsPerType * typesPerIndex;
constexpr std::size_t labelSize = sizeof ReadingRecord::label;

enum class NameForm { terminated, fill, nothing };

struct FuzzReading {
    std::int32_t valid = 0;
    double value = 0;
    // The bytes written into the label; a fill label has exactly labelSize.
    std::string label;
};

struct FuzzSensor {
    NameForm form = NameForm::terminated;
    // The bytes written into the name buffer, at most its size.
    std::string name;
};

struct FuzzScenario {
    std::int32_t count = 0;
    std::vector<FuzzSensor> sensors;
    std::vector<FuzzReading> readings;
    // For every described sensor, reading index and type in collection
    // order, the reading in that slot or -1.
    std::vector<std::int32_t> slots;
};

FuzzScenario scenario;

// Where the refresh has got to, as the entries see it: the calls must come
// in the one fixed order.
struct CallOrder {
    bool polled = false;
    bool counted = false;
    std::int32_t sensor = -1;
    bool named = false;
    std::size_t slot = 0;  // the next reading slot of the current sensor
    bool yieldDue = false;
    std::size_t sensorsDone = 0;
};

CallOrder order;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "refresh_fuzzer: %s\n", what);
    std::abort();
}

void require(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

// Reads the input front to back; past its end every byte is zero.
struct Input {
    const std::uint8_t *data;
    std::size_t size;
    std::size_t at = 0;
};

bool exhausted(const Input &input)
{
    return input.at >= input.size;
}

std::uint8_t byte(Input &input)
{
    return input.at < input.size ? input.data[input.at++] : 0;
}

std::uint64_t littleEndian(Input &input, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t{byte(input)} << (8 * i);
    return value;
}

std::string bytes(Input &input, std::size_t length)
{
    std::size_t available = std::min(length, input.size - std::min(input.at, input.size));
    std::string taken(reinterpret_cast<const char *>(input.data + input.at), available);
    input.at += available;
    taken.resize(length, '\0');
    return taken;
}

// The pattern repeated to exactly size bytes; empty when there is none.
std::string filled(std::string_view pattern, std::size_t size)
{
    std::string text;
    if (pattern.empty())
        return text;
    while (text.size() < size)
        text.append(pattern.substr(0, size - text.size()));
    return text;
}

void decode(const std::uint8_t *data, std::size_t size)
{
    Input input{data, size};
    scenario = {};
    auto count = static_cast<std::uint32_t>(littleEndian(input, 4));
    scenario.count = std::bit_cast<std::int32_t>(count);
    while (!exhausted(input) && scenario.sensors.size() < maxDescribedSensors) {
        FuzzSensor sensor;
        std::uint8_t form = byte(input) & 3;
        std::size_t nameLength = littleEndian(input, 2) % 1100;
        std::string name = bytes(input, nameLength);
        if (form == 1) {
            sensor.form = NameForm::fill;
            sensor.name = filled(name, nameBufferSize);
        } else if (form == 2) {
            sensor.form = NameForm::nothing;
        } else {
            sensor.name = name.substr(0, nameBufferSize);
        }
        std::size_t sensorIndex = scenario.sensors.size();
        scenario.sensors.push_back(std::move(sensor));
        scenario.slots.resize(scenario.sensors.size() * slotsPerSensor, -1);

        std::uint8_t readingCount = byte(input);
        for (std::uint8_t i = 0; i < readingCount && !exhausted(input); ++i) {
            std::size_t type = byte(input) % typesPerIndex;
            std::size_t index = littleEndian(input, 2) % readingsPerType;
            std::size_t run = std::max<std::size_t>(byte(input), 1);
            FuzzReading reading;
            reading.valid = std::bit_cast<std::int32_t>(static_cast<std::uint32_t>(littleEndian(input, 4)));
            reading.value = std::bit_cast<double>(littleEndian(input, 8));
            std::uint8_t label = byte(input);
            if (label < 0x80)
                reading.label = bytes(input, label);
            else
                reading.label = filled(bytes(input, label - 0x80u), labelSize);
            auto number = static_cast<std::int32_t>(scenario.readings.size());
            scenario.readings.push_back(std::move(reading));
            std::size_t first = index * typesPerIndex + type;
            std::size_t last = std::min(first + run, slotsPerSensor);
            for (std::size_t slot = first; slot < last; ++slot)
                scenario.slots[sensorIndex * slotsPerSensor + slot] = number;
        }
    }
}

std::int32_t reportedCount()
{
    return std::min(scenario.count, maxReportedSensors);
}

const FuzzReading *readingAt(std::size_t sensor, std::size_t slot)
{
    if (sensor >= scenario.sensors.size())
        return nullptr;
    std::int32_t number = scenario.slots[sensor * slotsPerSensor + slot];
    return number < 0 ? nullptr : &scenario.readings[static_cast<std::size_t>(number)];
}

std::int32_t initEntry(std::int32_t)
{
    fail("init called by the refresh");
}

void spareEntry()
{
    fail("spare entry called by the refresh");
}

std::int32_t pollEntry()
{
    require(!order.polled, "poll called twice");
    order.polled = true;
    return 0;
}

std::int32_t countEntry()
{
    require(order.polled && !order.counted, "count not called once, right after poll");
    order.counted = true;
    return reportedCount();
}

std::int32_t sensorEntry(std::int32_t sensor)
{
    require(order.counted, "sensor selected before the count");
    require(order.sensor < 0 || (order.slot == slotsPerSensor && !order.yieldDue),
            "sensor selected before the last one was collected");
    require(sensor == order.sensor + 1 && sensor < reportedCount(), "sensors selected out of order");
    order.sensor = sensor;
    order.named = false;
    order.slot = 0;
    return 0;
}

std::int32_t nameEntry(std::int32_t sensor, char *buffer, std::int32_t size)
{
    require(sensor == order.sensor && !order.named, "name not asked once, right after the sensor");
    require(size == nameBufferSize, "name buffer of the wrong size");
    order.named = true;
    if (static_cast<std::size_t>(sensor) >= scenario.sensors.size()) {
        buffer[0] = '\0';
        return 0;
    }
    const FuzzSensor &described = scenario.sensors[static_cast<std::size_t>(sensor)];
    if (described.form == NameForm::nothing)
        return 0;
    std::memcpy(buffer, described.name.data(), described.name.size());
    if (described.name.size() < nameBufferSize)
        buffer[described.name.size()] = '\0';
    return 0;
}

std::int32_t readingEntry(std::int32_t type, std::int32_t sensor, std::int32_t index, ReadingRecord *record)
{
    require(order.named && sensor == order.sensor, "reading asked outside its sensor");
    require(!order.yieldDue, "reading asked where a yield was due");
    std::size_t slot =
        static_cast<std::size_t>(index) * typesPerIndex + static_cast<std::size_t>(type - firstReadingType);
    require(type >= firstReadingType && type <= lastReadingType && index >= 0 && index < readingsPerType &&
                slot == order.slot,
            "readings asked out of order");
    // Only the fields the refresh reads: the unit tests check every byte.
    require(record->valid == 0 && std::bit_cast<std::uint64_t>(record->value) == 0 &&
                record->label[0] == '\0',
            "record not zeroed");
    ++order.slot;
    order.yieldDue = order.slot % typesPerIndex == 0;

    const FuzzReading *reading = readingAt(static_cast<std::size_t>(sensor), slot);
    if (reading == nullptr)
        return 0;
    // A real library fills the whole record, the parts the refresh does not
    // read included.
    std::memset(record->unused16, 0x5a, sizeof record->unused16);
    record->valid = reading->valid;
    record->value = reading->value;
    std::memcpy(record->label, reading->label.data(), reading->label.size());
    if (reading->label.size() < labelSize)
        record->label[reading->label.size()] = '\0';
    return 0;
}

void yieldEntry()
{
    require(order.yieldDue, "yield not right after the eight types of a reading index");
    order.yieldDue = false;
    if (order.slot == slotsPerSensor)
        ++order.sensorsDone;
}

const SensorLibrary fuzzLibrary{initEntry,   spareEntry, countEntry,  pollEntry,
                                sensorEntry, nameEntry,  readingEntry};

// The 1 MiB block with an inaccessible page on either side, mapped once.
std::span<std::byte> guardedBlock()
{
    static std::span<std::byte> block = [] {
        auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void *mapping =
            mmap(nullptr, blockSize + 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        require(mapping != MAP_FAILED, "cannot map the block");
        auto *base = static_cast<std::byte *>(mapping);
        require(mprotect(base, page, PROT_NONE) == 0 &&
                    mprotect(base + page + blockSize, page, PROT_NONE) == 0,
                "cannot protect the guard pages");
        return std::span<std::byte>(base + page, blockSize);
    }();
    return block;
}

// What follows models the refresh from the scenario alone.

std::string_view typeName(std::size_t typeOffset)
{
    constexpr std::array<std::string_view, typesPerIndex> names = {
        "temperature", "voltage", "fan", "current", "power", "clock", "usage", "other"};
    return names[typeOffset];
}

// The "%f" text as the C library prints a finite value, and the spellings
// the program gives the special values on every platform.
std::string valueText(double value)
{
    auto bits = std::bit_cast<std::uint64_t>(value);
    bool negative = (bits >> 63) != 0;
    std::uint64_t exponent = (bits >> 52) & 0x7ff;
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    bool quiet = (mantissa >> 51) != 0;
    if (exponent == 0x7ff) {
        if (mantissa == 0)
            return negative ? "-inf" : "inf";
        if (negative && mantissa == std::uint64_t{1} << 51)
            return "-nan(ind)";
        if (quiet)
            return negative ? "-nan" : "nan";
        return negative ? "-nan(snan)" : "nan(snan)";
    }
    std::array<char, 400> text;
    int length = std::snprintf(text.data(), text.size(), "%f", value);
    return std::string(text.data(), static_cast<std::size_t>(length));
}

std::string upToNul(std::string_view bytes)
{
    return std::string(bytes.substr(0, bytes.find('\0')));
}

std::string lowered(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return text;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isUtf8(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size()) {
        auto lead = static_cast<unsigned char>(text[at]);
        std::size_t following = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        if (lead >= 0xc2 && lead <= 0xdf) {
            following = 1;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            following = 2;
            low = lead == 0xe0 ? 0xa0 : 0x80;
            high = lead == 0xed ? 0x9f : 0xbf;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            following = 3;
            low = lead == 0xf0 ? 0x90 : 0x80;
            high = lead == 0xf4 ? 0x8f : 0xbf;
        } else {
            return false;
        }
        if (at + following >= text.size())
            return false;
        for (std::size_t i = 1; i <= following; ++i) {
            auto next = static_cast<unsigned char>(text[at + i]);
            if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf))
                return false;
        }
        at += following + 1;
    }
    return true;
}

struct Expected {
    std::string names;  // the name lines
    Json::Value document;
    bool allUtf8 = true;
};

Expected expectedRefresh()
{
    Expected expected;
    std::string previousName;
    for (std::int32_t sensor = 0; sensor < reportedCount(); ++sensor) {
        auto number = static_cast<std::size_t>(sensor);
        // A library that writes no name leaves the refresh's buffer as the
        // previous sensor left it.
        std::string name = previousName;
        if (number >= scenario.sensors.size())
            name.clear();
        else if (scenario.sensors[number].form != NameForm::nothing)
            name = lowered(upToNul(scenario.sensors[number].name));
        previousName = name;
        expected.names += name + "\n";
        expected.allUtf8 = expected.allUtf8 && isUtf8(name);

        Json::Value readings;
        for (std::size_t slot = 0; slot < slotsPerSensor; ++slot) {
            const FuzzReading *reading = readingAt(number, slot);
            if (reading == nullptr || reading->valid == 0)
                continue;
            std::string label = upToNul(reading->label);
            expected.allUtf8 = expected.allUtf8 && isUtf8(label);
            Json::Value entry;
            entry["type"] = std::string(typeName(slot % typesPerIndex));
            entry["value"] = valueText(reading->value);
            Json::Value wrapper;
            wrapper[label] = entry;
            readings.append(wrapper);
        }
        expected.document[name] = readings;
    }
    return expected;
}

std::string compactText(const Json::Value &document)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, document);
}

void checkBlock(std::span<const std::byte> block)
{
    Expected expected = expectedRefresh();
    std::string content = std::string(blockHeader) + expected.names + compactText(expected.document);

    std::string_view written(reinterpret_cast<const char *>(block.data()), block.size());
    std::size_t kept = std::min(content.size(), block.size());
    require(written.substr(0, blockHeader.size()) == blockHeader, "header missing");
    require(written.substr(0, kept) == std::string_view(content).substr(0, kept),
            "block content differs from the scenario's");
    static const std::vector<char> zeros(blockSize);
    require(std::memcmp(written.data() + kept, zeros.data(), written.size() - kept) == 0,
            "no zero fill after the content");
    if (content.size() >= block.size())
        return;

    // Everything fits: the text, found as a consumer finds it, must parse
    // and hold exactly the valid readings.
    std::size_t end = written.find('\0');
    std::size_t start = written.rfind('\n', end) + 1;
    std::string_view text = written.substr(start, end - start);
    Json::CharReaderBuilder readerBuilder;
    std::unique_ptr<Json::CharReader> reader(readerBuilder.newCharReader());
    Json::Value parsed;
    std::string errors;
    require(reader->parse(text.data(), text.data() + text.size(), &parsed, &errors), "text does not parse");
    // jsoncpp escapes bytes that are not UTF-8 as best it can, and they come
    // back as other characters; the byte comparison above covers them.
    if (expected.allUtf8)
        require(parsed == expected.document, "parsed text differs from the valid readings");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    decode(data, size);
    order = {};
    std::span<std::byte> block = guardedBlock();
    // Old bytes from an earlier, longer refresh must not survive.
    std::memset(block.data(), 0xa5, block.size());
    refreshBlock(fuzzLibrary, block, yieldEntry);
    require(order.counted, "count never asked");
    require(order.sensorsDone == static_cast<std::size_t>(std::max(reportedCount(), 0)),
            "not every sensor collected");
    checkBlock(block);
    return 0;
}
