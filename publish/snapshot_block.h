// The shared block that the consumer reads, and the refresh that rewrites it.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "sensors/sensor_library.h"

// The consumer's block: its name, the part of it that every refresh rewrites,
// and the line it starts with.
inline constexpr const char *blockName = "shareMemory_QORAInfo";
inline constexpr std::size_t blockSize = 0x100000;
inline constexpr std::string_view blockHeader = "HWi32_GetNumberOfDetectedSensors:\n";

// Opens the consumer's block and keeps its first 1 MiB for every refresh.
// Fails when the block does not exist, cannot be mapped, or has fewer than
// 1 MiB that can be written (on Windows, committed pages from its start).
bool openBlock();

// One complete refresh of the block opened by openBlock, from sensorLibrary.
void publishSnapshot();

// The refresh itself, against any table of entries and any byte region:
// header, lower-cased name lines, compact JSON text, zero fill, header last.
// Nothing is written past the end of the region; content that does not fit is
// cut at the boundary. yieldProcessor runs after the eight types of each
// reading index.
void refreshBlock(const SensorLibrary &library, std::span<std::byte> block, void (*yieldProcessor)());

// Room for the longest "%f" text of a double: a sign, 309 integer digits, the
// point and six decimals.
inline constexpr std::size_t valueTextCapacity = 320;

// The "%f" text of a reading value: six decimals with "." for finite values,
// and "inf", "nan", "-nan(ind)", "nan(snan)" with their signs for the others,
// whatever the C runtime or the locale would print. The result points into
// the buffer.
std::string_view formatReadingValue(double value, std::span<char, valueTextCapacity> buffer);
