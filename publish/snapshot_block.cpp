#include "publish/snapshot_block.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include <json/json.h>

#include "platform/platform.h"

namespace {

// The first 1 MiB of the consumer's mapping, set once by openBlock.
std::span<std::byte> sharedBlock;

// The name the snapshot writes for a type code, from firstReadingType
// ("temperature") to lastReadingType ("other").
std::string_view readingTypeName(std::int32_t type)
{
    static constexpr std::string_view names[] = {
        "temperature", "voltage", "fan", "current", "power", "clock", "usage", "other",
    };
    static_assert(std::size(names) == static_cast<std::size_t>(lastReadingType - firstReadingType + 1));
    return names[type - firstReadingType];
}

// Member names that every reading repeats, stored without a copy of their own.
const Json::StaticString typeKey("type");
const Json::StaticString valueKey("value");

// The storage of the last refresh's text, kept for the next one, so that once
// the text has reached its size it is written without growing a buffer.
std::string textStorage;

// The C library's memset, for the record zeroed before every reading call.
// For a fixed 464 bytes the compiler expands memset inline as a "rep stos",
// whose start-up cost makes it twice as slow as the library's vector stores;
// with 8192 calls per sensor that was most of the refresh's own time. Read
// through a volatile pointer, the function cannot be expanded.
void *(*const volatile clearBytes)(void *, int, std::size_t) = std::memset;

// Copies bytes into the block at offset, cutting them at the block's end, and
// returns the offset just past them as if nothing had been cut.
std::size_t put(std::span<std::byte> block, std::size_t offset, std::string_view bytes)
{
    if (offset < block.size()) {
        std::size_t room = block.size() - offset;
        std::memcpy(block.data() + offset, bytes.data(), std::min(room, bytes.size()));
    }
    return offset + bytes.size();
}

// Bytes up to the first NUL, or all of them when there is none.
std::string_view terminatedText(const char *text, std::size_t capacity)
{
    const void *nul = std::memchr(text, '\0', capacity);
    return {text,
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char *>(nul) - text) : capacity};
}

void lowerAscii(std::span<char> text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
}

// The writer of the compact text, built once: a writer keeps nothing from one
// write to the next.
Json::StreamWriter &compactWriter()
{
    static const std::unique_ptr<Json::StreamWriter> writer = [] {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
    }();
    return *writer;
}

// Collects every valid reading of one sensor, in reading-index-then-type
// order, as one-member objects keyed by label. Null when none is valid. Each
// reading is built in its place in the array, keyed straight from the record.
Json::Value collectReadings(const SensorLibrary &library, std::int32_t sensor, void (*yieldProcessor)())
{
    Json::Value readings;
    ReadingRecord record;
    std::array<char, valueTextCapacity> valueText;
    for (std::int32_t reading = 0; reading < readingsPerType; ++reading) {
        for (std::int32_t type = firstReadingType; type <= lastReadingType; ++type) {
            clearBytes(&record, 0, sizeof record);
            library.readingEntry(type, sensor, reading, &record);
            if (record.valid == 0)
                continue;
            std::string_view value = formatReadingValue(record.value, valueText);
            std::string_view label = terminatedText(record.label, sizeof record.label);
            Json::Value &wrapper = readings.append(Json::Value(Json::objectValue));
            Json::Value &entry = *wrapper.demand(label.data(), label.data() + label.size());
            entry[typeKey] = Json::StaticString(readingTypeName(type).data());
            entry[valueKey] = Json::Value(value.data(), value.data() + value.size());
        }
        yieldProcessor();
    }
    return readings;
}

// The document's compact text, written into the kept storage. The text then
// goes into the block in one copy: written there straight by the writer, it
// would stay half written for the whole serialisation, many times longer than
// the copy takes, and a consumer copying the block meanwhile would find it
// torn that much more often.
std::string_view compactText(const Json::Value &document)
{
    textStorage.clear();
    std::ostringstream stream(std::move(textStorage));
    compactWriter().write(document, &stream);
    textStorage = std::move(stream).str();
    return textStorage;
}

}  // namespace

std::string_view formatReadingValue(double value, std::span<char, valueTextCapacity> buffer)
{
    constexpr std::uint64_t signBit = std::uint64_t{1} << 63;
    constexpr std::uint64_t exponentMask = std::uint64_t{0x7ff} << 52;
    constexpr std::uint64_t mantissaMask = (std::uint64_t{1} << 52) - 1;
    constexpr std::uint64_t quietBit = std::uint64_t{1} << 51;

    auto bits = std::bit_cast<std::uint64_t>(value);
    if ((bits & exponentMask) != exponentMask) {
        auto result =
            std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 6);
        return {buffer.data(), result.ptr};
    }
    bool negative = (bits & signBit) != 0;
    std::uint64_t mantissa = bits & mantissaMask;
    if (mantissa == 0)
        return negative ? "-inf" : "inf";
    if (negative && mantissa == quietBit)
        return "-nan(ind)";
    if ((mantissa & quietBit) != 0)
        return negative ? "-nan" : "nan";
    return negative ? "-nan(snan)" : "nan(snan)";
}

void refreshBlock(const SensorLibrary &library, std::span<std::byte> block, void (*yieldProcessor)())
{
    Json::Value document;
    library.pollEntry();
    std::size_t offset = blockHeader.size();

    // One name buffer serves the whole refresh. It starts zeroed so that a
    // library that writes no name gives an empty one, never stale stack bytes;
    // a name without a NUL ends at the buffer's end.
    std::array<char, nameBufferSize> name{};
    std::int32_t count = library.countEntry();
    for (std::int32_t sensor = 0; sensor < count; ++sensor) {
        library.sensorEntry(sensor);
        library.nameEntry(sensor, name.data(), nameBufferSize);
        std::size_t length = terminatedText(name.data(), name.size()).size();
        lowerAscii(std::span(name).first(length));
        std::string_view lowered(name.data(), length);
        offset = put(block, offset, lowered);
        offset = put(block, offset, "\n");
        *document.demand(lowered.data(), lowered.data() + lowered.size()) =
            collectReadings(library, sensor, yieldProcessor);
    }

    offset = put(block, offset, compactText(document));

    if (offset < block.size())
        std::memset(block.data() + offset, 0, block.size() - offset);
    put(block, 0, blockHeader);
}

bool openBlock()
{
    std::span<std::byte> mapping = platform::openSharedBlock(blockName);
    if (mapping.size() < blockSize)
        return false;
    sharedBlock = mapping.first(blockSize);
    return true;
}

void publishSnapshot()
{
    refreshBlock(sensorLibrary, sharedBlock, platform::yieldProcessor);
}
