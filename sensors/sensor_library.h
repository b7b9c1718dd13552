// Binding to the vendor sensor library, reached only through seven ordinals,
// and the data it hands back.
#pragma once

#include <cstddef>
#include <cstdint>

// The vendor's library, loaded by this bare file name.
inline constexpr const char *sensorLibraryFileName = "HWiNFO64.dll";

// Reading type codes as the library takes them, 1 to 8, in the order in which
// a refresh asks for them.
enum class ReadingType : std::int32_t {
    temperature = 1,
    voltage,
    fan,
    current,
    power,
    clock,
    usage,
    other,
};

inline constexpr std::int32_t firstReadingType = static_cast<std::int32_t>(ReadingType::temperature);
inline constexpr std::int32_t lastReadingType = static_cast<std::int32_t>(ReadingType::other);

// The 464-byte record that readingEntry fills. Only the valid flag, the value
// and the label are read.
struct ReadingRecord {
    std::int32_t valid;
    std::byte unused4[4];
    double value;
    std::byte unused16[312];
    char label[136];
};

static_assert(sizeof(ReadingRecord) == 464);
static_assert(offsetof(ReadingRecord, valid) == 0);
static_assert(offsetof(ReadingRecord, value) == 8);
static_assert(offsetof(ReadingRecord, label) == 328);

inline constexpr std::int32_t nameBufferSize = 1024;
inline constexpr std::int32_t readingsPerType = 1024;

// The ordinal of each entry point, in the order in which binding resolves them.
inline constexpr int initOrdinal = 481;
inline constexpr int spareOrdinal = 360;
inline constexpr int countOrdinal = 994;
inline constexpr int pollOrdinal = 256;
inline constexpr int sensorOrdinal = 318;
inline constexpr int nameOrdinal = 802;
inline constexpr int readingOrdinal = 714;

// The seven entry points, in resolution order.
struct SensorLibrary {
    std::int32_t (*initEntry)(std::int32_t flags);
    void (*spareEntry)();
    std::int32_t (*countEntry)();
    std::int32_t (*pollEntry)();
    std::int32_t (*sensorEntry)(std::int32_t sensor);
    std::int32_t (*nameEntry)(std::int32_t sensor, char *buffer, std::int32_t size);
    std::int32_t (*readingEntry)(std::int32_t type, std::int32_t sensor, std::int32_t reading,
                                 ReadingRecord *record);
};

inline constexpr std::int32_t initFlags = 64;

// The process-wide table, filled once by bindSensorLibrary.
extern SensorLibrary sensorLibrary;

// Loads sensorLibraryFileName and resolves all seven ordinals into sensorLibrary.
// True only when the library loaded and every slot is filled.
bool bindSensorLibrary();
