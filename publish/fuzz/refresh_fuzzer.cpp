// The refresh under libFuzzer. Each input becomes a sensor library: plain
// entry functions over the scenario decoded from it. The refresh runs into a
// 1 MiB region between two inaccessible guard pages, so that any write past
// either end of the block crashes at once, and the block it leaves is then
// compared with the one built here, independently, from the decoded scenario.
//
// Input layout; bytes missing at the end of the input read as zero.
//
//   count           int32, little-endian: what the count entry reports, but
//                   never more than the sensors described (see below).
//   then, for up to maxDescribedSensors (two) sensors, until the input ends:
//     name form     1 byte, low two bits: 0 or 3 the bytes and a NUL when
//                   shorter than the buffer; 1 the bytes repeated to fill the
//                   buffer without a NUL; 2 nothing written at all.
//     name length   2 bytes, little-endian, modulo 1100; then the bytes.
//     readings      1 byte: how many reading descriptions follow.
//     each reading:
//       type        1 byte, modulo 8, plus 1.
//       index       2 bytes, little-endian, modulo 1024.
//       run         1 byte: below 0xf8 the reading fills its own slot; from
//                   0xf8 + n it fills 2^(n+1) slots, 2 to 256, in collection
//                   order from its own, up to the sensor's last, so that a
//                   short input can pass 1 MiB of text. Long runs are kept
//                   rare: a valid reading costs the refresh some microseconds
//                   and its copies show nothing new but the length of the
//                   text.
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
// Those calls are most of a run's time, so the cap is as low as shows every
// way sensors meet in the refresh: the name buffer that one sensor leaves to
// the next, and names that meet as keys in the document. Any further sensor
// would be one more of the same; a sensor with an empty name and no readings,
// as the simulated library gives past its list, is one an input describes.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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

constexpr std::size_t maxDescribedSensors = 2;
constexpr std::size_t maxReadingsPerSensor = 255;
constexpr std::size_t typesPerIndex = lastReadingType - firstReadingType + 1;
constexpr std::size_t slotsPerSensor = readingsPerType * typesPerIndex;
constexpr std::size_t labelSize = sizeof ReadingRecord::label;
constexpr auto pagePattern = std::byte{0xa5};

enum class NameForm { terminated, fill, nothing };

struct FuzzReading {
    std::int32_t valid = 0;
    double value = 0;
    // The first labelLength bytes are written into the label, and a NUL
    // after them when they are fewer than labelSize.
    std::array<char, labelSize> label;
    std::size_t labelLength = 0;
    // The slots it was given, some perhaps taken over by later readings.
    std::size_t firstSlot = 0;
    std::size_t endSlot = 0;
};

struct FuzzSensor {
    NameForm form = NameForm::terminated;
    // As the label: the bytes written into the name buffer.
    std::array<char, nameBufferSize> name;
    std::size_t nameLength = 0;
    // Its readings in the scenario's list.
    std::size_t firstReading = 0;
    std::size_t endReading = 0;
};

// The decoded input, in storage kept from run to run: a run allocates
// nothing for it, and every entry answers in constant time.
struct FuzzScenario {
    std::int32_t count = 0;  // what the count entry reports
    std::size_t described = 0;
    std::array<FuzzSensor, maxDescribedSensors> sensors;
    std::size_t readingCount = 0;
    std::array<FuzzReading, maxDescribedSensors * maxReadingsPerSensor> readings;
    // For every described sensor, reading index and type in collection
    // order, the reading in that slot or null.
    std::array<const FuzzReading *, maxDescribedSensors * slotsPerSensor> slots;
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

// Takes length bytes of the input into the front of text; those that do not
// fit are skipped. Returns how many were kept.
std::size_t take(Input &input, std::size_t length, std::span<char> text)
{
    std::size_t kept = std::min(length, text.size());
    std::size_t available = std::min(length, input.size - std::min(input.at, input.size));
    std::size_t copied = std::min(kept, available);
    if (copied > 0)
        std::memcpy(text.data(), input.data + input.at, copied);
    std::fill(text.begin() + static_cast<std::ptrdiff_t>(copied),
              text.begin() + static_cast<std::ptrdiff_t>(kept), '\0');
    input.at += available;
    return kept;
}

// Repeats the pattern at the front of text to fill all of it. Returns the
// length of the filled text: all of it, or nothing when there is no pattern.
std::size_t fill(std::span<char> text, std::size_t patternLength)
{
    if (patternLength == 0)
        return 0;
    for (std::size_t at = patternLength; at < text.size(); ++at)
        text[at] = text[at - patternLength];
    return text.size();
}

void decode(const std::uint8_t *data, std::size_t size)
{
    Input input{data, size};
    auto count = static_cast<std::uint32_t>(littleEndian(input, 4));
    scenario.count = std::bit_cast<std::int32_t>(count);
    scenario.described = 0;
    scenario.readingCount = 0;
    while (!exhausted(input) && scenario.described < maxDescribedSensors) {
        std::size_t sensorIndex = scenario.described++;
        FuzzSensor &sensor = scenario.sensors[sensorIndex];
        std::uint8_t form = byte(input) & 3;
        std::size_t nameLength = take(input, littleEndian(input, 2) % 1100, sensor.name);
        sensor.form = form == 1 ? NameForm::fill : form == 2 ? NameForm::nothing : NameForm::terminated;
        sensor.nameLength = form == 1 ? fill(sensor.name, nameLength) : nameLength;

        auto slots = std::span(scenario.slots).subspan(sensorIndex * slotsPerSensor, slotsPerSensor);
        std::fill(slots.begin(), slots.end(), nullptr);
        sensor.firstReading = scenario.readingCount;
        std::uint8_t readingCount = byte(input);
        for (std::uint8_t i = 0; i < readingCount && !exhausted(input); ++i) {
            std::size_t type = byte(input) % typesPerIndex;
            std::size_t index = littleEndian(input, 2) % readingsPerType;
            std::uint8_t runCode = byte(input);
            std::size_t run = runCode < 0xf8 ? 1 : std::size_t{2} << (runCode - 0xf8);
            FuzzReading &reading = scenario.readings[scenario.readingCount++];
            reading.valid = std::bit_cast<std::int32_t>(static_cast<std::uint32_t>(littleEndian(input, 4)));
            reading.value = std::bit_cast<double>(littleEndian(input, 8));
            std::uint8_t label = byte(input);
            if (label < 0x80) {
                reading.labelLength = take(input, label, reading.label);
            } else {
                std::size_t pattern = take(input, label - 0x80u, reading.label);
                reading.labelLength = fill(reading.label, pattern);
            }
            reading.firstSlot = index * typesPerIndex + type;
            reading.endSlot = std::min(reading.firstSlot + run, slotsPerSensor);
            std::fill(slots.begin() + static_cast<std::ptrdiff_t>(reading.firstSlot),
                      slots.begin() + static_cast<std::ptrdiff_t>(reading.endSlot), &reading);
        }
        sensor.endReading = scenario.readingCount;
    }
}

std::int32_t reportedCount()
{
    return std::min(scenario.count, static_cast<std::int32_t>(scenario.described));
}

std::string_view nameOf(const FuzzSensor &sensor)
{
    return {sensor.name.data(), sensor.nameLength};
}

std::string_view labelOf(const FuzzReading &reading)
{
    return {reading.label.data(), reading.labelLength};
}

std::span<const FuzzReading *const, slotsPerSensor> sensorSlots(std::size_t sensor)
{
    return std::span(scenario.slots).subspan(sensor * slotsPerSensor).first<slotsPerSensor>();
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
    const FuzzSensor &described = scenario.sensors[static_cast<std::size_t>(sensor)];
    if (described.form == NameForm::nothing)
        return 0;
    std::memcpy(buffer, described.name.data(), described.nameLength);
    if (described.nameLength < nameBufferSize)
        buffer[described.nameLength] = '\0';
    return 0;
}

// Called 8192 times per sensor: a few flags compared and one slot looked up.
std::int32_t readingEntry(std::int32_t type, std::int32_t sensor, std::int32_t index, ReadingRecord *record)
{
    require(order.named && sensor == order.sensor, "reading asked outside its sensor");
    require(!order.yieldDue, "reading asked where a yield was due");
    auto typeOffset = static_cast<std::uint32_t>(type - firstReadingType);
    // In 64 bits no index overflows; with the type in range, matching the
    // next slot puts the index in range too.
    std::int64_t slot = std::int64_t{index} * std::int64_t{typesPerIndex} + typeOffset;
    require(typeOffset < typesPerIndex && order.slot < slotsPerSensor &&
                slot == static_cast<std::int64_t>(order.slot),
            "readings asked out of order");
    // Only the fields the refresh reads: the unit tests check every byte.
    require(record->valid == 0 && std::bit_cast<std::uint64_t>(record->value) == 0 &&
                record->label[0] == '\0',
            "record not zeroed");
    ++order.slot;
    order.yieldDue = order.slot % typesPerIndex == 0;

    const FuzzReading *reading = sensorSlots(static_cast<std::size_t>(sensor))[order.slot - 1];
    if (reading == nullptr)
        return 0;
    // A real library fills the whole record, the parts the refresh does not
    // read included.
    std::memset(record->unused16, 0x5a, sizeof record->unused16);
    record->valid = reading->valid;
    record->value = reading->value;
    std::memcpy(record->label, reading->label.data(), reading->labelLength);
    if (reading->labelLength < labelSize)
        record->label[reading->labelLength] = '\0';
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
// Before a refresh every byte that may hold text is overwritten with a
// pattern, so that old bytes which the refresh fails to overwrite show.
// Past the last refresh's text the block was found zero, as every refresh
// must leave it, so only the bytes before it are worth overwriting.
struct GuardedBlock {
    std::span<std::byte> bytes;
    std::size_t used = 0;  // how many leading bytes may be other than zero
};

GuardedBlock &guardedBlock()
{
    static GuardedBlock block = [] {
        auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void *mapping =
            mmap(nullptr, blockSize + 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        require(mapping != MAP_FAILED, "cannot map the block");
        auto *base = static_cast<std::byte *>(mapping);
        require(mprotect(base, page, PROT_NONE) == 0 &&
                    mprotect(base + page + blockSize, page, PROT_NONE) == 0,
                "cannot protect the guard pages");
        // The first refresh finds the pattern everywhere.
        return GuardedBlock{std::span<std::byte>(base + page, blockSize), blockSize};
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

// A described reading as the text shows it, worked out once however many
// slots it fills.
struct ModelReading {
    std::string label;  // up to the first NUL
    std::string quotedLabel;
    std::string value;
    bool utf8 = false;
};

struct ExpectedReading {
    const ModelReading *reading;
    std::string_view type;
};

// The block the refresh must leave, and the readings its text must hold.
// The text and the vectors keep their storage from run to run; what each
// run adds to the map and the strings is freed by the same run (see
// forgetRun).
struct Expected {
    std::vector<ModelReading> readings;                       // one for each described reading
    std::vector<std::pair<std::size_t, std::size_t>> ranges;  // of slots
    std::string content;
    std::size_t namesEnd = 0;  // where the text starts in the content
    // Every distinct sensor name with the valid readings of the last sensor
    // of that name, as a JSON object keeps them.
    std::map<std::string, std::vector<ExpectedReading>> document;
    bool allUtf8 = true;
};

Expected expected;

std::string quoted(const std::string &text)
{
    return Json::valueToQuotedString(text.c_str());
}

// The compact text of the document: members in byte order, one object per
// reading keyed by its label, null for a sensor without valid readings.
void appendText(std::string &text, std::int32_t count)
{
    if (count <= 0) {
        text += "null";
        return;
    }
    text += '{';
    bool firstSensor = true;
    for (const auto &[name, readings] : expected.document) {
        if (!firstSensor)
            text += ',';
        firstSensor = false;
        text += quoted(name);
        text += ':';
        if (readings.empty()) {
            text += "null";
            continue;
        }
        text += '[';
        bool firstReading = true;
        for (const ExpectedReading &reading : readings) {
            if (!firstReading)
                text += ',';
            firstReading = false;
            text += '{';
            text += reading.reading->quotedLabel;
            text += ":{\"type\":\"";
            text += reading.type;
            text += "\",\"value\":\"";
            text += reading.reading->value;
            text += "\"}}";
        }
        text += ']';
    }
    text += '}';
}

void expectRefresh()
{
    expected.readings.resize(scenario.readingCount);
    for (std::size_t i = 0; i < scenario.readingCount; ++i) {
        const FuzzReading &described = scenario.readings[i];
        ModelReading &reading = expected.readings[i];
        reading.label = upToNul(labelOf(described));
        reading.quotedLabel = quoted(reading.label);
        reading.value = valueText(described.value);
        reading.utf8 = isUtf8(reading.label);
    }
    expected.content = blockHeader;
    expected.allUtf8 = true;
    std::string previousName;
    std::int32_t count = reportedCount();
    for (std::int32_t sensor = 0; sensor < count; ++sensor) {
        auto number = static_cast<std::size_t>(sensor);
        // A library that writes no name leaves the refresh's buffer as the
        // previous sensor left it.
        std::string name = previousName;
        if (scenario.sensors[number].form != NameForm::nothing)
            name = lowered(upToNul(nameOf(scenario.sensors[number])));
        previousName = name;
        expected.content += name;
        expected.content += '\n';
        expected.allUtf8 = expected.allUtf8 && isUtf8(name);

        std::vector<ExpectedReading> &readings = expected.document[name];
        readings.clear();
        // Only the slots that some reading was given, in collection order;
        // the table says which reading holds each in the end.
        const FuzzSensor &described = scenario.sensors[number];
        expected.ranges.clear();
        for (std::size_t i = described.firstReading; i < described.endReading; ++i)
            expected.ranges.emplace_back(scenario.readings[i].firstSlot, scenario.readings[i].endSlot);
        std::sort(expected.ranges.begin(), expected.ranges.end());
        std::span<const FuzzReading *const, slotsPerSensor> slots = sensorSlots(number);
        std::size_t slot = 0;
        for (auto [first, end] : expected.ranges) {
            for (slot = std::max(slot, first); slot < end; ++slot) {
                const FuzzReading *holder = slots[slot];
                if (holder->valid == 0)
                    continue;
                const ModelReading &reading =
                    expected.readings[static_cast<std::size_t>(holder - scenario.readings.data())];
                expected.allUtf8 = expected.allUtf8 && reading.utf8;
                readings.push_back({&reading, typeName(slot % typesPerIndex)});
            }
        }
    }
    expected.namesEnd = expected.content.size();
    appendText(expected.content, count);
}

// The text parsed as a consumer parses it holds exactly the readings.
bool holdsReadings(const Json::Value &parsed)
{
    if (reportedCount() <= 0)
        return parsed.isNull();
    if (!parsed.isObject() || parsed.size() != expected.document.size())
        return false;
    for (const auto &[name, readings] : expected.document) {
        const Json::Value *sensor = parsed.find(name.data(), name.data() + name.size());
        if (sensor == nullptr)
            return false;
        if (readings.empty()) {
            if (!sensor->isNull())
                return false;
            continue;
        }
        if (!sensor->isArray() || sensor->size() != readings.size())
            return false;
        for (Json::ArrayIndex i = 0; i < readings.size(); ++i) {
            const Json::Value &wrapper = (*sensor)[i];
            const std::string &label = readings[i].reading->label;
            const Json::Value *entry = wrapper.isObject() && wrapper.size() == 1
                                           ? wrapper.find(label.data(), label.data() + label.size())
                                           : nullptr;
            if (entry == nullptr || !entry->isObject() || entry->size() != 2 ||
                (*entry)["type"] != std::string(readings[i].type) ||
                (*entry)["value"] != readings[i].reading->value)
                return false;
        }
    }
    return true;
}

bool allZero(std::string_view bytes)
{
    return bytes.empty() ||
           (bytes.front() == '\0' && std::memcmp(bytes.data(), bytes.data() + 1, bytes.size() - 1) == 0);
}

// Texts up to this size are parsed as well. It holds two names of 1024
// bytes escaped six bytes to one and some readings beside them; past it a
// text only has more readings, which show nothing new to the parser. The
// few texts above it were half of all the bytes parsed, and parsing is a
// tenth of a run's time.
constexpr std::size_t parsedTextLimit = 16 * 1024;

void checkBlock(GuardedBlock &block)
{
    expectRefresh();
    std::string_view content = expected.content;

    std::string_view written(reinterpret_cast<const char *>(block.bytes.data()), block.bytes.size());
    std::size_t kept = std::min(content.size(), written.size());
    require(written.substr(0, blockHeader.size()) == blockHeader, "header missing");
    require(written.substr(0, kept) == content.substr(0, kept), "block content differs from the scenario's");
    require(allZero(written.substr(kept)), "no zero fill after the content");
    block.used = kept;
    if (content.size() >= written.size() || content.size() - expected.namesEnd > parsedTextLimit)
        return;

    // Everything fits: the text, found as a consumer finds it, must parse
    // and hold exactly the valid readings.
    std::size_t end = written.find('\0');
    std::size_t start = written.rfind('\n', end) + 1;
    std::string_view text = written.substr(start, end - start);
    static const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    Json::Value parsed;
    std::string errors;
    require(reader->parse(text.data(), text.data() + text.size(), &parsed, &errors), "text does not parse");
    // jsoncpp escapes bytes that are not UTF-8 as best it can, and they come
    // back as other characters; the byte comparison above covers them.
    if (expected.allUtf8)
        require(holdsReadings(parsed), "parsed text differs from the valid readings");
}

// libFuzzer reruns an input under LeakSanitizer, a scan of the whole heap,
// after any run that allocated more than it freed. Storage that a later run
// only reuses or regrows frees as much as it takes; map entries and strings
// that a run builds would not, whenever it builds more than the run before.
void forgetRun()
{
    expected.document.clear();
    expected.readings.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    decode(data, size);
    order = {};
    GuardedBlock &block = guardedBlock();
    std::fill_n(block.bytes.begin(), block.used, pagePattern);
    refreshBlock(fuzzLibrary, block.bytes, yieldEntry);
    require(order.counted, "count never asked");
    require(order.sensorsDone == static_cast<std::size_t>(std::max(reportedCount(), 0)),
            "not every sensor collected");
    checkBlock(block);
    forgetRun();
    return 0;
}
