#include "watch/block_reader.h"

#include "watch/utf8.h"

#include <json/json.h>

#include <memory>
#include <utility>

namespace watch {
namespace {

ReadResult reject(BlockStatus status, std::string error)
{
    return {status, std::move(error), {}};
}

// jsoncpp reports errors as indented "* " items over several lines;
// sensor-watch reports each failure on one line.
std::string oneLine(std::string_view text)
{
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '*' && i + 1 < text.size() && text[i + 1] == ' ' && (i == 0 || text[i - 1] == '\n'))
            continue;
        const bool space = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (!space)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string quoted(std::string_view name)
{
    return '"' + printable(name) + '"';
}

bool parseText(std::string_view text, Json::Value &root, std::string &error)
{
    // Strict, so that a cut or padded text never passes, except that the root
    // may be null: that is what an empty sensor list is published as. A
    // reader keeps its state while it parses, so each thread has its own.
    thread_local const std::unique_ptr<Json::CharReader> reader = [] {
        Json::CharReaderBuilder builder;
        Json::CharReaderBuilder::strictMode(&builder.settings_);
        builder["strictRoot"] = false;
        return std::unique_ptr<Json::CharReader>(builder.newCharReader());
    }();
    try {
        return reader->parse(text.data(), text.data() + text.size(), &root, &error);
    } catch (const Json::Exception &e) {
        // jsoncpp throws instead of failing when garbage nests too deeply.
        error = e.what();
        return false;
    }
}

// Checks one array element: {label: {"type": string, "value": string}}.
std::string readReading(const Json::Value &element, Reading &reading)
{
    if (!element.isObject() || element.size() != 1)
        return "is not an object with exactly one member";
    reading.label = element.getMemberNames().front();
    const Json::Value &body = element[reading.label];
    if (!body.isObject() || body.size() != 2 || !body["type"].isString() || !body["value"].isString())
        return "label " + quoted(reading.label) +
               " does not hold exactly a string \"type\" and a string \"value\"";
    reading.type = body["type"].asString();
    reading.value = body["value"].asString();
    return {};
}

std::string readSensors(const Json::Value &root, std::vector<Sensor> &sensors)
{
    if (root.isNull())
        return {};
    if (!root.isObject())
        return "the root is neither an object nor null";
    for (const std::string &name : root.getMemberNames()) {
        const Json::Value &member = root[name];
        Sensor &sensor = sensors.emplace_back();
        sensor.name = name;
        if (member.isNull()) {
            sensor.noReading = true;
            continue;
        }
        if (!member.isArray())
            return "sensor " + quoted(name) + " is neither an array nor null";
        for (Json::ArrayIndex i = 0; i < member.size(); ++i) {
            const std::string problem = readReading(member[i], sensor.readings.emplace_back());
            if (!problem.empty())
                return "sensor " + quoted(name) + " reading " + std::to_string(i + 1) + " " + problem;
        }
    }
    return {};
}

}  // namespace

ReadResult readBlock(std::span<const std::byte> copy)
{
    const std::string_view block(reinterpret_cast<const char *>(copy.data()), copy.size());
    if (!block.starts_with(blockHeader))
        return reject(BlockStatus::noHeader, "no header");

    // The text runs up to the first zero byte, or to the end of a block that
    // was filled to the brim, and starts after the last line feed before that.
    const std::size_t nul = block.find('\0', blockHeader.size());
    const bool terminated = nul != std::string_view::npos;
    const std::string_view content = block.substr(0, terminated ? nul : block.size());
    const std::size_t textStart = content.rfind('\n') + 1;
    const std::string_view text = content.substr(textStart);
    if (text.empty())
        return reject(BlockStatus::invalid, "the JSON text is empty");

    ReadResult result{BlockStatus::valid, {}, {}};
    Json::Value root;
    std::string error;
    if (!parseText(text, root, error)) {
        error = oneLine(error);
        if (!terminated)
            error = "text not terminated (the block is full, the text clipped): " + error;
        return reject(BlockStatus::invalid, error);
    }
    error = readSensors(root, result.snapshot.sensors);
    if (!error.empty())
        return reject(BlockStatus::invalid, "unexpected JSON shape: " + error);

    std::string_view names = content.substr(blockHeader.size(), textStart - blockHeader.size());
    while (!names.empty()) {
        const std::size_t end = names.find('\n');
        result.snapshot.nameLines.emplace_back(names.substr(0, end));
        names.remove_prefix(end + 1);
    }
    result.snapshot.text = text;
    return result;
}

}  // namespace watch
