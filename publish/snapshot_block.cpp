#include "publish/snapshot_block.h"

#include <algorithm>
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
    return {text, nul != nullptr ? static_cast<std::size_t>(static_cast<const char *>(nul) - text)
                                 : capacity};
}

void lowerAscii(std::span<char> text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
}

// Collects every valid reading of one sensor, in reading-index-then-type
// order, as one-member objects keyed by label. Null when none is valid.
Json::Value collectReadings(const SensorLibrary &library, std::int32_t sensor,
                            void (*yieldProcessor)())
{
    Json::Value readings;
    ReadingRecord record;
    std::array<char, valueTextCapacity> valueText;
    for (std::int32_t reading = 0; reading < readingsPerType; ++reading) {
        for (std::int32_t type = firstReadingType; type <= lastReadingType; ++type) {
            std::memset(&record, 0, sizeof record);
            library.readingEntry(type, sensor, reading, &record);
            if (record.valid == 0)
                continue;
            std::string_view value = formatReadingValue(record.value, valueText);
            std::string_view label = terminatedText(record.label, sizeof record.label);
            Json::Value entry(Json::objectValue);
            entry["type"] = Json::StaticString(readingTypeName(type).data());
            entry["value"] = Json::Value(value.data(), value.data() + value.size());
            Json::Value wrapper(Json::objectValue);
            wrapper[Json::String(label)] = std::move(entry);
            readings.append(std::move(wrapper));
        }
        yieldProcessor();
    }
    return readings;
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
        auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, 6);
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

void refreshBlock(const SensorLibrary &library, std::span<std::byte> block,
                  void (*yieldProcessor)())
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
        document[Json::String(lowered)] = collectReadings(library, sensor, yieldProcessor);
    }

    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    std::ostringstream stream;
    writer->write(document, &stream);
    offset = put(block, offset, stream.view());

    if (offset < block.size())
        std::memset(block.data() + offset, 0, block.size() - offset);
    put(block, 0, blockHeader);
}

bool openBlock()
{
    std::span<std::byte> mapping = platform::openSharedBlock("shareMemory_QORAInfo");
    if (mapping.size() < blockSize)
        return false;
    sharedBlock = mapping.first(blockSize);
    return true;
}

void publishSnapshot()
{
    refreshBlock(sensorLibrary, sharedBlock, platform::yieldProcessor);
}
