// The log that --csv writes: one row per new snapshot, in a CSV file that a
// spreadsheet or pandas reads. The texts are pure functions; the file is
// plain C++ file I/O.
#pragma once

#include "watch/block_reader.h"

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace watch {

// A field as RFC 4180 writes it: in double quotes, with each quote doubled,
// when it holds a comma, a double quote or a line break; as it is otherwise.
std::string csvField(std::string_view text);

// The header line: "time", then a column per reading in the snapshot's order,
// named "sensor / label [unit]" (without the unit when `withUnits` is false
// or the type has none), "sensor / label #2 [unit]" for the second reading of
// a sensor with that label and unit. Names are made well-formed UTF-8. Ends
// with CR LF, as every line of the file.
std::string csvHeader(const Snapshot &snapshot, bool withUnits);

// A row: the time, then each reading's value as published (so always with a
// dot, whatever the locale), made well-formed UTF-8.
std::string csvRow(const Snapshot &snapshot, std::string_view time);

// ISO 8601 local time with its offset from UTC, such as
// "2026-12-10T12:00:05+01:00".
std::string isoLocalTime(double unixTime);

// FILE for 1; for 2 and up, FILE with "-2", "-3" ... before its extension.
std::filesystem::path numberedPath(const std::filesystem::path &path, std::size_t number);

// Byte-order mark, UTF-8's, that Windows spreadsheets need to read the file as UTF-8.
inline constexpr std::string_view utf8ByteOrderMark = "\xef\xbb\xbf";

struct CsvLog {
    std::filesystem::path path;
    bool byteOrderMark = false;
    // At most one row per this many seconds, the last snapshot of each
    // interval; every snapshot when 0.
    double everySeconds = 0;
    bool withUnits = true;

    // The file written now, and its header line.
    std::ofstream file{};
    std::filesystem::path writing{};
    std::string header{};
    // With everySeconds: the row that waits for the end of its interval, its
    // header, and the interval's number since the first snapshot.
    std::string pendingHeader{};
    std::string pendingRow{};
    long long pendingInterval = 0;
    double firstSeconds = -1;
    // What to tell the user when the rows go to another file than FILE;
    // taken by whoever tells it.
    std::string notice{};
};

// Tells whether the log's path can be written, without leaving a file that
// was not there: empty when it can, otherwise "cannot write PATH: REASON".
std::string checkLogPath(const std::filesystem::path &path);

// Logs a snapshot that appeared at the given moment (Unix time for the row,
// steady seconds for the intervals). A row goes to the file whose header is
// the snapshot's: the one written now, an existing file that starts with the
// same header (appended to), or a new one, the first free of FILE, FILE-2 ...
// A file with another header is never written to. Sets the notice when the
// rows go to another file than FILE. Returns "cannot write PATH:
// REASON" when writing fails, and empty otherwise.
std::string logSnapshot(CsvLog &log, const Snapshot &snapshot, double unixTime, double steadySeconds);

// Writes the row that waits for its interval's end, if any.
std::string finishLog(CsvLog &log);

}  // namespace watch
