#include "watch/screen_layout.h"

#include "watch/units.h"
#include "watch/utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace watch {
namespace {

constexpr std::string_view ellipsis = "\u2026";

struct Range {
    char32_t first;
    char32_t last;
};

// Combining marks and zero-width characters in common use.
constexpr Range zeroWidth[] = {{0x0300, 0x036f}, {0x0483, 0x0489}, {0x0591, 0x05bd},
                               {0x0610, 0x061a}, {0x064b, 0x065f}, {0x200b, 0x200f},
                               {0x20d0, 0x20ff}, {0xfe00, 0xfe0f}, {0xfe20, 0xfe2f}};

// East Asian wide and full-width characters, and the emoji blocks, which
// terminals show two columns wide.
constexpr Range doubleWidth[] = {
    {0x1100, 0x115f},   {0x231a, 0x231b},   {0x2329, 0x232a},  {0x23e9, 0x23ec}, {0x2e80, 0x303e},
    {0x3041, 0x33ff},   {0x3400, 0x4dbf},   {0x4e00, 0x9fff},  {0xa000, 0xa4cf}, {0xac00, 0xd7a3},
    {0xf900, 0xfaff},   {0xfe30, 0xfe4f},   {0xff00, 0xff60},  {0xffe0, 0xffe6}, {0x1f300, 0x1f64f},
    {0x1f900, 0x1f9ff}, {0x20000, 0x2fffd}, {0x30000, 0x3fffd}};

bool within(std::span<const Range> ranges, char32_t point)
{
    return std::ranges::any_of(
        ranges, [&](const Range &range) { return point >= range.first && point <= range.last; });
}

// The length of the character that `text` starts with (a stray byte counts
// as one) and the columns it takes.
std::pair<std::size_t, std::size_t> nextCharacter(std::string_view text)
{
    const std::size_t length = utf8SequenceLength(text);
    if (length <= 1)
        return {1, 1};
    // The lead byte's payload bits, then six from each continuation byte.
    char32_t point = static_cast<unsigned char>(text[0]) & (0x7f >> length);
    for (std::size_t i = 1; i < length; ++i)
        point = (point << 6) | (static_cast<unsigned char>(text[i]) & 0x3f);
    return {length, within(zeroWidth, point) ? 0 : within(doubleWidth, point) ? 2 : 1};
}

// The text in exactly `width` columns: padded with spaces, or cut with an
// ellipsis where it is wider. A wide character that would pass the last
// column leaves a space instead.
std::string fitted(std::string_view text, std::size_t width)
{
    std::size_t used = displayWidth(text);
    if (used <= width)
        return std::string(text) + std::string(width - used, ' ');
    if (width == 0)
        return {};
    std::string out;
    used = 0;
    while (!text.empty()) {
        const auto [length, columns] = nextCharacter(text);
        if (used + columns > width - 1)
            break;
        out += text.substr(0, length);
        used += columns;
        text.remove_prefix(length);
    }
    return out + std::string(ellipsis) + std::string(width - 1 - used, ' ');
}

std::string rightAligned(std::string_view text, std::size_t width)
{
    const std::size_t used = displayWidth(text);
    return used >= width ? fitted(text, width) : std::string(width - used, ' ') + std::string(text);
}

// A statistic without units, in the "%f" form that values are published in.
std::string published(double value)
{
    char buffer[400];
    return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6).ptr};
}

char lowered(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool holds(std::string_view text, std::string_view part)
{
    return std::ranges::search(text, part, {}, lowered, lowered).begin() != text.end() || part.empty();
}

// The places in view.rows of the readings that the filter lets through.
std::vector<std::size_t> filtered(const ViewState &view)
{
    std::vector<std::size_t> shown;
    for (std::size_t i = 0; i < view.rows.size(); ++i)
        if (holds(view.rows[i].sensor, view.filter) || holds(view.rows[i].label, view.filter))
            shown.push_back(i);
    return shown;
}

// Lines for readings: all but the heading, the column names from a height
// of 3 and the keys from 4.
std::size_t bodyHeight(TerminalSize size)
{
    return size.rows - std::min<std::size_t>(size.rows, 1 + (size.rows >= 3) + (size.rows >= 4));
}

// Where in `shown` the top line is: the reading under it before, or the
// first shown after that one when the filter hides it; never so far down that
// the screen could show more.
std::size_t topOf(const ViewState &view, std::span<const std::size_t> shown, TerminalSize size)
{
    const auto anchor = std::ranges::find(view.rows, view.topKey, &ViewRow::key);
    const auto place = static_cast<std::size_t>(anchor == view.rows.end() ? 0 : anchor - view.rows.begin());
    const auto top = static_cast<std::size_t>(std::ranges::lower_bound(shown, place) - shown.begin());
    return std::min(top, shown.size() - std::min(shown.size(), bodyHeight(size)));
}

void scroll(ViewState &view, TerminalSize size, long long by)
{
    const std::vector<std::size_t> shown = filtered(view);
    if (shown.empty())
        return;
    const auto top = static_cast<long long>(topOf(view, shown, size));
    const auto last = static_cast<long long>(shown.size() - std::min(shown.size(), bodyHeight(size)));
    view.topKey = view.rows[shown[static_cast<std::size_t>(std::clamp(top + by, 0LL, last))]].key;
}

std::string counted(std::size_t count, std::string_view noun)
{
    return std::to_string(count) + ' ' + std::string(noun) + (count == 1 ? "" : "s");
}

std::string headingOf(const ViewState &view, const Readings &readings, Moment now, std::string_view clock,
                      std::size_t top, std::size_t inView, std::size_t shown)
{
    const std::optional<SnapshotAge> age = snapshotAge(readings, now);
    if (!age)
        return "sensor-watch: waiting for the first snapshot";
    std::string out = readings.old ? "in the block before " + std::string(clock)
                                   : std::string(clock) + ", " +
                                         std::to_string(static_cast<long long>(age->seconds)) + " s ago";
    out += isFresh(age) ? "  fresh  " : "  stale  ";
    if (shown == 0)
        out += view.filter.empty() ? "no readings" : "no reading matches";
    else if (inView == 0)
        out += "none of " + std::to_string(shown) + " in view";
    else
        out += "readings " + std::to_string(top + 1) + "\u2013" + std::to_string(top + inView) + " of " +
               std::to_string(shown);
    if (!view.filter.empty() || view.editingFilter)
        out += "  filter \"" + printable(view.filter) + '"';
    // The counts last: the position and the filter matter more on a narrow screen.
    out += "  " + counted(readings.snapshot.sensors.size(), "sensor") + ", " +
           counted(readings.readings.size(), "reading");
    return out;
}

}  // namespace

std::size_t displayWidth(std::string_view text)
{
    std::size_t width = 0;
    while (!text.empty()) {
        const auto [length, columns] = nextCharacter(text);
        width += columns;
        text.remove_prefix(length);
    }
    return width;
}

std::string_view unitOf(std::string_view type)
{
    const auto unit = std::ranges::find(units, type, &Unit::type);
    return unit == units.end() ? std::string_view() : unit->symbol;
}

std::vector<std::size_t> occurrences(const Snapshot &snapshot, bool withUnits)
{
    std::vector<std::size_t> numbers;
    for (const Sensor &sensor : snapshot.sensors) {
        std::unordered_map<std::string, std::size_t> seen;
        for (const Reading &reading : sensor.readings) {
            const std::string label = wellFormedUtf8(reading.label);
            const std::string_view kind = withUnits ? unitOf(reading.type) : std::string_view();
            numbers.push_back(++seen[std::to_string(label.size()) + ':' + label + std::string(kind)]);
        }
    }
    return numbers;
}

void takeSnapshot(ViewState &view, const Readings &readings, bool withUnits)
{
    const std::vector<std::size_t> numbers = occurrences(readings.snapshot, withUnits);
    std::vector<ViewRow> current;
    current.reserve(readings.readings.size());
    std::unordered_set<std::string_view> present;
    for (std::size_t i = 0; i < readings.readings.size(); ++i) {
        const TrackedReading &tracked = readings.readings[i];
        const Reading &reading = readingOf(readings, tracked);
        const auto shown = [&](double value) {
            return withUnits ? shownNumber(reading.type, value) : published(value);
        };
        ViewRow &row = current.emplace_back();
        row.key = tracked.key;
        row.sensor = printable(readings.snapshot.sensors[tracked.sensor].name);
        row.label = printable(reading.label) + (numbers[i] > 1 ? " #" + std::to_string(numbers[i]) : "");
        row.value = printable(withUnits ? shownValue(reading.type, reading.value) : reading.value);
        row.minimum = row.maximum = row.average = "-";
        if (const std::optional<double> mean = average(tracked.statistics)) {
            row.minimum = shown(tracked.statistics.minimum);
            row.maximum = shown(tracked.statistics.maximum);
            row.average = shown(*mean);
        }
        present.insert(row.key);
    }
    // The missing readings, by the key of the present one they follow (empty
    // for those at the start).
    std::unordered_map<std::string, std::vector<ViewRow>> following;
    std::vector<std::size_t> ages;
    std::string before;
    for (ViewRow &row : view.rows) {
        if (present.contains(row.key)) {
            before = row.key;
            continue;
        }
        ages.push_back(++row.missingFor);
        following[before].push_back(std::move(row));
    }
    // Beyond missingKept, those missing longer than the missingKept-th
    // longest go.
    std::size_t longest = std::numeric_limits<std::size_t>::max();
    if (ages.size() > missingKept) {
        std::ranges::nth_element(ages, ages.begin() + (missingKept - 1));
        longest = ages[missingKept - 1];
    }
    std::vector<ViewRow> rows;
    rows.reserve(current.size() + view.rows.size());
    const auto follow = [&](const std::string &key) {
        if (const auto found = following.find(key); found != following.end())
            for (ViewRow &row : found->second)
                if (row.missingFor <= longest)
                    rows.push_back(std::move(row));
    };
    follow({});
    for (ViewRow &row : current) {
        rows.push_back(std::move(row));
        follow(rows.back().key);
    }
    view.rows = std::move(rows);
}

std::vector<KeyPress> decodeKeys(std::string_view bytes)
{
    std::vector<KeyPress> keys;
    while (!bytes.empty()) {
        const char byte = bytes.front();
        if (byte == '\x1b' && bytes.size() > 1 && (bytes[1] == '[' || bytes[1] == 'O')) {
            // ESC [ or ESC O, parameters, and a final byte from @ to ~.
            const std::size_t final = bytes.find_first_not_of("0123456789;", 2) == std::string_view::npos
                                          ? bytes.size()
                                          : bytes.find_first_not_of("0123456789;", 2);
            if (final == bytes.size())
                break;
            const std::string_view parameters = bytes.substr(2, final - 2);
            const char kind = bytes[final];
            static constexpr std::array<std::pair<std::string_view, Key>, 6> tilde{{{"1", Key::home},
                                                                                    {"7", Key::home},
                                                                                    {"4", Key::end},
                                                                                    {"8", Key::end},
                                                                                    {"5", Key::pageUp},
                                                                                    {"6", Key::pageDown}}};
            static constexpr std::array<std::pair<char, Key>, 4> letters{
                {{'A', Key::up}, {'B', Key::down}, {'H', Key::home}, {'F', Key::end}}};
            if (kind == '~') {
                const std::string_view first = parameters.substr(0, parameters.find(';'));
                if (const auto found =
                        std::ranges::find(tilde, first, &std::pair<std::string_view, Key>::first);
                    found != tilde.end())
                    keys.push_back({found->second, {}});
            } else if (const auto found = std::ranges::find(letters, kind, &std::pair<char, Key>::first);
                       found != letters.end()) {
                keys.push_back({found->second, {}});
            }
            bytes.remove_prefix(final + 1);
            continue;
        }
        const std::size_t length = std::max<std::size_t>(utf8SequenceLength(bytes), 1);
        if (byte == '\x1b')
            keys.push_back({Key::escape, {}});
        else if (byte == '\r' || byte == '\n')
            keys.push_back({Key::enter, {}});
        else if (byte == '\x7f' || byte == '\b')
            keys.push_back({Key::backspace, {}});
        else if (static_cast<unsigned char>(byte) >= 0x20 && utf8SequenceLength(bytes) > 0)
            keys.push_back({Key::character, std::string(bytes.substr(0, length))});
        bytes.remove_prefix(length);
    }
    return keys;
}

bool applyKey(ViewState &view, const KeyPress &key, TerminalSize size)
{
    view.notice.clear();
    const auto page = static_cast<long long>(std::max<std::size_t>(bodyHeight(size), 1));
    constexpr long long all = 1LL << 40;
    if (view.editingFilter && (key.key == Key::character || key.key == Key::backspace)) {
        if (key.key == Key::character)
            view.filter += key.text;
        // Back over one character: its continuation bytes, then its lead.
        while (key.key == Key::backspace && !view.filter.empty() &&
               (static_cast<unsigned char>(view.filter.back()) & 0xc0) == 0x80)
            view.filter.pop_back();
        if (key.key == Key::backspace && !view.filter.empty())
            view.filter.pop_back();
        view.topKey.clear();
        return true;
    }
    switch (key.key) {
    case Key::up:
        scroll(view, size, -1);
        break;
    case Key::down:
        scroll(view, size, 1);
        break;
    case Key::pageUp:
        scroll(view, size, -page);
        break;
    case Key::pageDown:
        scroll(view, size, page);
        break;
    case Key::home:
        scroll(view, size, -all);
        break;
    case Key::end:
        scroll(view, size, all);
        break;
    case Key::escape:
        view.filter.clear();
        view.editingFilter = false;
        break;
    case Key::enter:
        view.editingFilter = false;
        break;
    case Key::backspace:
        break;
    case Key::character:
        if (key.text == "q")
            return false;
        if (key.text == "j")
            scroll(view, size, 1);
        if (key.text == "k")
            scroll(view, size, -1);
        if (key.text == "/") {
            view.filter.clear();
            view.editingFilter = true;
            view.topKey.clear();
        }
        break;
    }
    return true;
}

std::vector<ScreenLine> layoutScreen(const ViewState &view, const Readings &readings, Moment now,
                                     std::string_view clock, TerminalSize size)
{
    const std::vector<std::size_t> shown = filtered(view);
    const std::size_t top = topOf(view, shown, size);
    const std::size_t inView = std::min(bodyHeight(size), shown.size() - top);
    const std::size_t columns = size.columns;
    std::vector<ScreenLine> lines;
    if (size.rows == 0)
        return lines;
    lines.push_back({fitted(headingOf(view, readings, now, clock, top, inView, shown.size()), columns),
                     LineStyle::heading});

    // The numbers take what they need, measured over every reading so that
    // the columns stay put while scrolling; the names share what is left.
    using Cells = std::array<std::string_view, 6>;
    const Cells names{"sensor", "label", "value", "min", "max", "average"};
    std::array<std::size_t, 6> widths{};
    std::ranges::transform(names, widths.begin(), displayWidth);
    for (const ViewRow &row : view.rows) {
        const Cells cells{row.sensor, row.label, row.value, row.minimum, row.maximum, row.average};
        for (std::size_t i = 0; i < cells.size(); ++i)
            widths[i] = std::max(widths[i], displayWidth(cells[i]));
    }
    // On a narrow screen the statistics go, the average first, before the
    // names get fewer than 24 columns between them.
    const auto numbersWidth = [&](std::size_t count) {
        std::size_t sum = 0;
        for (std::size_t i = 2; i < count; ++i)
            sum += widths[i] + 2;
        return sum + 2;
    };
    std::size_t shownCells = widths.size();
    while (shownCells > 3 &&
           numbersWidth(shownCells) + std::min<std::size_t>(widths[0] + widths[1], 24) > columns)
        --shownCells;
    const std::size_t fixed = numbersWidth(shownCells);
    const std::size_t room = columns > fixed ? columns - fixed : 0;
    if (widths[0] + widths[1] > room) {
        const std::size_t half = room / 2;
        if (widths[0] <= half)
            widths[1] = room - widths[0];
        else if (widths[1] <= room - half)
            widths[0] = room - widths[1];
        else
            std::tie(widths[0], widths[1]) = std::pair(half, room - half);
    }
    const auto line = [&](const Cells &cells) {
        std::string out = fitted(cells[0], widths[0]) + "  " + fitted(cells[1], widths[1]);
        for (std::size_t i = 2; i < shownCells; ++i)
            out += "  " + rightAligned(cells[i], widths[i]);
        return fitted(out, columns);
    };
    if (size.rows >= 3)
        lines.push_back({line(names), LineStyle::columns});

    const bool fresh = isFresh(snapshotAge(readings, now));
    for (std::size_t i = top; i < top + inView; ++i) {
        const ViewRow &row = view.rows[shown[i]];
        // The sensor's name on its first line in view only.
        const bool sameSensor = i > top && view.rows[shown[i - 1]].sensor == row.sensor;
        const Cells cells{sameSensor ? std::string_view() : std::string_view(row.sensor),
                          row.label,
                          row.value,
                          row.minimum,
                          row.maximum,
                          row.average};
        lines.push_back({line(cells), row.missingFor > 0 || !fresh ? LineStyle::dim : LineStyle::normal});
    }
    // Blank lines below the last reading, and the keys at the bottom.
    const bool keysShown = size.rows >= 4;
    while (lines.size() + (keysShown ? 1 : 0) < size.rows)
        lines.push_back({std::string(columns, ' '), LineStyle::normal});
    if (keysShown) {
        const std::string keys =
            view.editingFilter     ? "filter: " + printable(view.filter) + "_   Enter keeps it, Esc clears it"
            : !view.notice.empty() ? printable(view.notice)
                                   : "\u2191\u2193 j k PgUp PgDn Home End: scroll   /: filter   Esc: "
                                     "clear the filter   q: quit";
        lines.push_back({fitted(keys, columns), LineStyle::columns});
    }
    return lines;
}

std::string drawScreen(std::span<const ScreenLine> lines)
{
    // Each line at its own place, so that a full last column never scrolls
    // the screen; the attributes are reset after each. The lines cover the
    // whole screen, so nothing of the last frame stays.
    static constexpr std::array<std::string_view, 4> styles{"\x1b[7m", "\x1b[1m", "", "\x1b[2m"};
    std::string out = "\x1b[H";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += "\x1b[" + std::to_string(i + 1) + ";1H";
        out += styles[static_cast<std::size_t>(lines[i].style)];
        out += lines[i].text;
        out += "\x1b[0m";
    }
    return out;
}

}  // namespace watch
