// The full-screen view of the readings on a terminal, as pure functions: what
// the view keeps between snapshots and keys, the keys decoded from the bytes a
// terminal sends, and the lines that fill a screen of a given size. Drawing
// them is escape sequences in a string; the terminal itself is behind
// platform/console.h.
#pragma once

#include "watch/readings.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace watch {

// Each reading's number among the readings of its sensor that share its label
// and unit (its label alone with --no-units), counted over the labels as
// UTF-8 repairs them: 1 for the first, 2 for the second. The view shows the
// label of the second as "Core #2", and the log names its column so too, so
// that a sensor's columns have names of their own.
std::vector<std::size_t> occurrences(const Snapshot &snapshot, bool withUnits);

// The unit a type's values are shown in, empty for none (see units.h).
std::string_view unitOf(std::string_view type);

// One reading as the view shows it. A reading that is missing from the last
// snapshot keeps its place and its last texts, dimmed.
struct ViewRow {
    std::string key;  // TrackedReading::key
    std::string sensor;
    std::string label;
    std::string value;
    std::string minimum;
    std::string maximum;
    std::string average;
    // The snapshots it has been missing from; 0 while it is in the last.
    std::size_t missingFor = 0;
};

// About this many missing readings stay in the view, those missing longest
// going first beyond it, so that readings that keep changing their names
// cannot grow it without end.
inline constexpr std::size_t missingKept = 1000;

struct ViewState {
    std::vector<ViewRow> rows;
    // The key of the reading under the top line; empty for the first. Kept
    // by key, so that readings coming or going above it do not move it.
    std::string topKey;
    // Shows only readings whose sensor name or label holds it, letters A to Z
    // in either case.
    std::string filter;
    bool editingFilter = false;
    // A line for the user, shown in place of the keys until the next key.
    std::string notice;
};

struct TerminalSize {
    std::size_t rows = 24;
    std::size_t columns = 80;
};

// Takes the last recorded snapshot into the view's rows, in the snapshot's
// order; readings that were there before and are not now stay, marked
// missing, after the reading they followed (see missingKept).
void takeSnapshot(ViewState &view, const Readings &readings, bool withUnits);

enum class Key { up, down, pageUp, pageDown, home, end, escape, enter, backspace, character };

struct KeyPress {
    Key key = Key::character;
    // The character's UTF-8 bytes, for Key::character.
    std::string text;
};

// The keys in bytes from a terminal: printable characters (UTF-8), Enter,
// Backspace, Esc, and the escape sequences of the arrows, PgUp, PgDn, Home and
// End in the forms terminals send. Other control bytes, unknown sequences and
// bytes that are not UTF-8 are left out.
std::vector<KeyPress> decodeKeys(std::string_view bytes);

// Applies a key to the view on a screen of the given size; false for q,
// which ends the view.
bool applyKey(ViewState &view, const KeyPress &key, TerminalSize size);

enum class LineStyle { heading, columns, normal, dim };

struct ScreenLine {
    // Exactly as wide as the screen: shortened with an ellipsis, padded with
    // spaces.
    std::string text;
    LineStyle style = LineStyle::normal;
};

// The lines that fill the screen, from the top: the heading (`clock` is the
// snapshot's local time, the age and freshness are taken at `now`), the
// column names, the readings in view and a line of keys, as far as the height
// allows. Every reading is dimmed while the snapshot is stale.
std::vector<ScreenLine> layoutScreen(const ViewState &view, const Readings &readings, Moment now,
                                     std::string_view clock, TerminalSize size);

// The escape sequences that draw the lines over the whole screen.
std::string drawScreen(std::span<const ScreenLine> lines);

// The columns a text takes on a terminal: 2 for wide characters (East Asian
// wide and full-width forms, emoji), 0 for combining marks, 1 for others.
// Expects the text printable (see utf8.h).
std::size_t displayWidth(std::string_view text);

}  // namespace watch
