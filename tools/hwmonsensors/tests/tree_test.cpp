// The library against a fake hardware-monitoring tree, and the whole program
// against what `sensors` makes of the same tree. Runs only inside
// private_mounts.sh under `unshare -mn`, which namespace_test.cpp arranges:
// the tree goes where libsensors looks for the real one.
#include <dlfcn.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <json/json.h>

#include "tools/hwmonsensors/entries.h"
#include "tools/hwmonsensors/tests/find_program.h"
#include "testing/child_process.h"
#include "testing/installation.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path hwmon = "/sys/class/hwmon";
const fs::path configuration = "/etc/sensors.d/fake-tree.conf";

// The tree, one chip a line: its hwmon directory, the bus and device it links
// to (none for a virtual chip), and its files as NAME=CONTENT separated by
// '|'. Values are in sysfs units: millidegrees, millivolts, milliamperes,
// microwatts, microjoules and thousandths of a percent. Inputs holding no
// number cannot be read.
const char *const tree[] = {
    "hwmon0 pci 0000:00:18.3 name=k10temp|temp1_input=45125|temp1_label=Tctl|temp3_input=38250|"
    "temp3_label=Tccd1",
    "hwmon1 platform nct6775.656 name=nct6775|in0_input=1104|in1_input=1016|in2_input=3392|"
    "in3_input=garbage|fan1_input=1250|fan2_input=0|fan3_input=|fan4_input=900|temp1_input=36000|"
    "temp1_label=SYSTIN|temp1_max=80000|temp2_input=41500|temp2_label=CPUTIN|temp7_input=40000|"
    "temp7_label=Température PECI|cpu0_vid=1100|intrusion0_alarm=0|intrusion1_alarm=1|beep_enable=0",
    "hwmon2 none none name=acpitz|temp1_input=27800|temp2_input=29800",
    "hwmon3 i2c 1-0040 name=ina226|in0_input=12045|in1_input=3|curr1_input=1500|power1_input=18067500",
    "hwmon4 none none name=BAT0|in0_input=12600|curr1_input=800",
    "hwmon5 i2c 0-0044 name=sht3x|temp1_input=23450|humidity1_input=45678",
    "hwmon6 pci 0000:03:00.0 name=amdgpu|in0_input=1050|in0_label=vddgfx|fan1_input=800|"
    "temp1_input=52000|temp1_label=edge|temp2_input=61000|temp2_label=junction|"
    "power1_average=35000000|power1_label=PPT|energy1_input=123456789",
    "hwmon7 pci 0000:01:00.0 name=nvme|temp1_input=garbage|temp1_label=Composite",
};

// Labels, a computed value and an ignored feature, as users write them.
constexpr const char *treeConfiguration = R"(chip "nct6775-*"
    label in0 "Vcore"
    label in1 "+5V"
    compute in1 @*5, @/5
    ignore fan4
chip "acpitz-*"
    label temp2 "Zone 2"
)";

constexpr std::size_t chipsInTree = std::size(tree);

void write(const fs::path &path, std::string_view text)
{
    std::ofstream(path) << text << (text.empty() ? "" : "\n");
}

// Makes a hwmon directory with its files, linked to a device on a bus as
// sysfs links it: libsensors names the chip after the last parts of the
// device link and of the device's subsystem link. The devices live in a
// hidden directory, which libsensors passes over.
void addChip(const std::string &line)
{
    std::istringstream fields(line);
    std::string chip, bus, device, files;
    fields >> chip >> bus >> device;
    std::getline(fields >> std::ws, files);
    fs::create_directory(hwmon / chip);
    std::istringstream entries(files);
    for (std::string entry; std::getline(entries, entry, '|');) {
        const std::size_t equals = entry.find('=');
        write(hwmon / chip / entry.substr(0, equals), entry.substr(equals + 1));
    }
    if (bus == "none")
        return;
    const fs::path devices = hwmon / ".devices";
    fs::create_directories(devices / device);
    fs::create_directories(devices / ".bus" / bus);
    fs::create_directory_symlink(devices / ".bus" / bus, devices / device / "subsystem");
    fs::create_directory_symlink(devices / device, hwmon / chip / "device");
}

class FakeTree : public testing::Test {
  protected:
    void SetUp() override
    {
        for (const char *chip : tree)
            addChip(chip);
        // A directory where an input would be is no input.
        fs::create_directory(hwmon / "hwmon1" / "temp8_input");
        write(configuration, treeConfiguration);
    }
    void TearDown() override
    {
        for (const fs::directory_entry &entry : fs::directory_iterator(hwmon))
            fs::remove_all(entry);
        fs::remove(configuration);
    }
};

using hwmonsensors::Record;

// Each chip's name and its readings, one line each by type and index, as one
// refresh of the bridge would see them.
using Refresh = std::vector<std::pair<std::string, std::string>>;

std::map<std::string, std::string> byName(const Refresh &refresh)
{
    return {refresh.begin(), refresh.end()};
}

// The library under test, bound by ordinal as the bridge binds it.
struct Library {
    template <typename Entry> Entry entry(int ordinal)
    {
        const std::string symbol = "ordinal_" + std::to_string(ordinal);
        auto found = reinterpret_cast<Entry>(dlsym(handle.get(), symbol.c_str()));
        if (found == nullptr)
            throw std::runtime_error(symbol + " missing");
        return found;
    }

    // The result, and errno as init left it.
    std::pair<std::int32_t, int> init()
    {
        errno = 0;
        const std::int32_t result = initEntry(64);
        return {result, errno};
    }

    Refresh view()
    {
        Refresh chips;
        for (std::int32_t sensor = 0, count = countEntry(); sensor < count; ++sensor) {
            selectEntry(sensor);
            char name[1024] = {};
            nameEntry(sensor, name, sizeof name);
            std::string readings;
            for (std::int32_t type = 1; type <= 8; ++type) {
                for (std::int32_t index = 0; index < 1024; ++index) {
                    Record record{};
                    if (readingEntry(type, sensor, index, &record) == 0)
                        continue;
                    char value[64] = "invalid";
                    if (record.valid != 0)
                        std::snprintf(value, sizeof value, "%.6f", record.value);
                    readings += std::to_string(type) + "/" + std::to_string(index) + " " + record.label +
                                "=" + value + "\n";
                }
            }
            chips.emplace_back(name, readings);
        }
        return chips;
    }

    std::unique_ptr<void, int (*)(void *)> handle{dlopen(HWMON_LIBRARY, RTLD_NOW | RTLD_LOCAL), dlclose};
    std::int32_t (*initEntry)(std::int32_t) = entry<decltype(initEntry)>(481);
    std::int32_t (*countEntry)() = entry<decltype(countEntry)>(994);
    std::int32_t (*poll)() = entry<decltype(poll)>(256);
    std::int32_t (*selectEntry)(std::int32_t) = entry<decltype(selectEntry)>(318);
    std::int32_t (*nameEntry)(std::int32_t, char *, std::int32_t) = entry<decltype(nameEntry)>(802);
    std::int32_t (*readingEntry)(std::int32_t, std::int32_t, std::int32_t,
                                 Record *) = entry<decltype(readingEntry)>(714);
};

TEST_F(FakeTree, HotPlugShowsOnlyAtThePollAndShiftsNoOtherChip)
{
    Library library;
    ASSERT_EQ(library.init().first, 0);
    library.poll();
    const Refresh before = library.view();
    ASSERT_EQ(before.size(), chipsInTree);

    // A chip and an input vanish after the poll: the refresh still sees that
    // poll whole, in the same order.
    fs::rename(hwmon / "hwmon2", hwmon / ".hwmon2");
    fs::remove(hwmon / "hwmon0" / "temp3_input");
    EXPECT_EQ(library.view(), before);

    std::map<std::string, std::string> expected = byName(before);
    const std::string acpitz = expected.at("acpitz-virtual-0");
    EXPECT_EQ(acpitz, "1/0 temp1=27.800000\n1/1 Zone 2=29.800000\n");
    expected.erase("acpitz-virtual-0");
    expected["k10temp-pci-00c3"] = "1/0 Tctl=45.125000\n";
    library.poll();
    EXPECT_EQ(byName(library.view()), expected);

    // The chip comes back and another one arrives.
    fs::rename(hwmon / ".hwmon2", hwmon / "hwmon2");
    addChip("hwmon8 platform coretemp.0 name=coretemp|temp1_input=55000|temp1_label=Package id 0");
    expected["acpitz-virtual-0"] = acpitz;
    expected["coretemp-isa-0000"] = "1/0 Package id 0=55.000000\n";
    library.poll();
    EXPECT_EQ(byName(library.view()), expected);
}

TEST_F(FakeTree, UnreadableValuesAreInvalidNeverStale)
{
    Library library;
    ASSERT_EQ(library.init().first, 0);
    library.poll();
    EXPECT_EQ(byName(library.view()).at("nvme-pci-0100"), "1/0 Composite=invalid\n");

    const fs::path tctl = hwmon / "hwmon0" / "temp1_input";
    const auto k10temp = [&] {
        library.poll();
        return byName(library.view()).at("k10temp-pci-00c3");
    };
    EXPECT_EQ(k10temp(), "1/0 Tctl=45.125000\n1/1 Tccd1=38.250000\n");
    write(tctl, "garbage");
    EXPECT_EQ(k10temp(), "1/0 Tctl=invalid\n1/1 Tccd1=38.250000\n");
    write(tctl, "");
    EXPECT_EQ(k10temp(), "1/0 Tctl=invalid\n1/1 Tccd1=38.250000\n");
    write(tctl, "50000");
    EXPECT_EQ(k10temp(), "1/0 Tctl=50.000000\n1/1 Tccd1=38.250000\n");

    // libsensors goes by the file's mode, so an input that no one may read is
    // unreadable even to root.
    const fs::path closed = hwmon / "hwmon0" / "temp2_input";
    write(closed, "47000");
    fs::permissions(closed, fs::perms::none);
    EXPECT_EQ(k10temp(), "1/0 Tctl=50.000000\n1/1 temp2=invalid\n1/2 Tccd1=38.250000\n");

    fs::remove(tctl);
    EXPECT_EQ(k10temp(), "1/0 temp2=invalid\n1/1 Tccd1=38.250000\n");
}

TEST_F(FakeTree, InitFailsWithAMeaningfulErrnoAndPollsRecover)
{
    Library library;
    // Without sysfs there is no hardware monitoring to be had.
    ASSERT_EQ(mount("test-no-sysfs", "/sys", "tmpfs", 0, nullptr), 0) << std::strerror(errno);
    EXPECT_EQ(library.init(), std::make_pair(1, ENODEV));
    EXPECT_EQ(library.countEntry(), 0);
    ASSERT_EQ(umount2("/sys", MNT_DETACH), 0) << std::strerror(errno);
    EXPECT_EQ(library.init(), std::make_pair(0, 0));
    EXPECT_EQ(library.countEntry(), static_cast<std::int32_t>(chipsInTree));

    // A device whose bus link is no link makes libsensors give up on the whole
    // tree, whether at init or at a poll, until the device is gone.
    addChip("hwmon9 none none name=broken|temp1_input=1000");
    fs::create_directories(hwmon / ".devices" / "0000:00:1f.3" / "subsystem");
    fs::create_directory_symlink(hwmon / ".devices" / "0000:00:1f.3", hwmon / "hwmon9" / "device");
    library.poll();
    EXPECT_EQ(library.countEntry(), 0);
    EXPECT_EQ(library.init(), std::make_pair(1, ENODEV));
    fs::remove_all(hwmon / "hwmon9");
    library.poll();
    EXPECT_EQ(library.countEntry(), static_cast<std::int32_t>(chipsInTree));
}

// Each reading as "chip type#index label" with its value, and each chip as
// its name alone, so that chips without readings count too.
using Readings = std::map<std::string, double>;

struct ReadingsBuilder {
    void chip(const std::string &name)
    {
        std::string lowered = name;
        for (char &c : lowered)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        current = lowered;
        readings[current] = 0;
    }
    void add(const std::string &type, const std::string &label, double value)
    {
        const std::string key = current + " " + type;
        readings[key + "#" + std::to_string(next[key]++) + " " + label] = value;
    }
    Readings readings;
    std::map<std::string, int> next;
    std::string current;
};

Json::Value parse(const std::string &text)
{
    Json::Value document;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream stream(text);
    if (!Json::parseFromStream(builder, stream, &document, &errors))
        ADD_FAILURE() << errors << text;
    return document;
}

// The value that `sensors` shows for a feature, and the type the name of its
// subfeature gives: the input, or else a power average, a VID or an
// intrusion alarm.
std::optional<std::pair<std::string, double>> mainValue(const Json::Value &feature)
{
    static const std::regex input(R"((in|fan|temp|curr|power|energy|humidity)\d+_input)");
    static const std::regex otherwise(R"((power)\d+_average|cpu\d+_(vid)|(intrusion)\d+_alarm)");
    static const std::map<std::string, std::string> types = {
        {"in", "voltage"},       {"vid", "voltage"},    {"fan", "fan"},
        {"temp", "temperature"}, {"curr", "current"},   {"power", "power"},
        {"energy", "other"},     {"humidity", "other"}, {"intrusion", "other"}};
    if (!feature.isObject())
        return std::nullopt;
    for (const std::regex *pattern : {&input, &otherwise}) {
        for (const std::string &name : feature.getMemberNames()) {
            std::smatch match;
            if (!std::regex_match(name, match, *pattern))
                continue;
            for (std::size_t group = 1; group < match.size(); ++group) {
                if (match[group].matched)
                    return std::make_pair(types.at(match[group]), feature[name].asDouble());
            }
        }
    }
    return std::nullopt;
}

// What `sensors -j` prints, as the bridge should publish it. The features'
// order comes from the text itself, as a parsed object keeps no order.
Readings fromSensors(const std::string &text)
{
    const Json::Value document = parse(text);
    static const std::regex chipLine(R"re(   "(.*)":\{)re");
    static const std::regex featureLine(R"re(      "(.*)":\{)re");
    ReadingsBuilder builder;
    std::string chip;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, chipLine)) {
            chip = match[1];
            builder.chip(chip);
        } else if (std::regex_match(line, match, featureLine)) {
            const auto value = mainValue(document[chip][match[1].str()]);
            if (value)
                builder.add(value->first, match[1], value->second);
        }
    }
    return builder.readings;
}

// The block holds each chip's readings in index-then-type order, so those of
// one type are in index order.
Readings fromPublished(const std::string &text)
{
    const Json::Value document = parse(text);
    ReadingsBuilder builder;
    for (const std::string &chip : document.getMemberNames()) {
        builder.chip(chip);
        for (const Json::Value &wrapper : document[chip]) {
            for (const std::string &label : wrapper.getMemberNames()) {
                const Json::Value &entry = wrapper[label];
                builder.add(entry["type"].asString(), label, std::stod(entry["value"].asString()));
            }
        }
    }
    return builder.readings;
}

std::vector<std::string> keysOf(const Readings &readings)
{
    std::vector<std::string> keys;
    for (const auto &entry : readings)
        keys.push_back(entry.first);
    return keys;
}

TEST_F(FakeTree, PublishedBlockHoldsWhatSensorsPrints)
{
    const std::string sensorsProgram = findProgram("sensors");
    ASSERT_FALSE(sensorsProgram.empty()) << "sensors is not installed (Debian: lm-sensors)";
    const ChildOutcome sensors = runChild({sensorsProgram, "-j"}, {}, 120s);
    ASSERT_TRUE(sensors.exited && sensors.exitCode == 0) << sensors.output;

    // The program runs from a directory of its own, beside the library, and
    // sensor-watch creates the block before it starts.
    const Installation installation(SENSOR_BRIDGE, HWMON_LIBRARY);
    // Waits are generous: on a busy machine the program's first refresh
    // comes late, as it yields the processor 1024 times for every chip.
    ChildProcess watch = startChild({SENSOR_WATCH, "--json", "--once", "--timeout", "240"});
    eventually(60s, [] { return fs::exists("/dev/shm/shareMemory_QORAInfo"); });
    ChildProcess program = startChild({installation.program.string()});
    const ChildOutcome published = finishChild(watch, 300s);
    kill(program.pid, SIGKILL);
    finishChild(program, 60s);
    ASSERT_TRUE(published.exited && published.exitCode == 0) << published.output;
    std::cout << "sensors -j:\n" << sensors.output << "published:\n" << published.output;

    const Readings expected = fromSensors(sensors.output);
    const Readings actual = fromPublished(published.output);
    EXPECT_EQ(keysOf(actual), keysOf(expected));
    for (const auto &[key, value] : expected) {
        // sensors prints three decimals, the block six.
        if (actual.contains(key)) {
            EXPECT_NEAR(actual.at(key), value, 0.0005 + 1e-9) << key;
        }
    }
    // Every chip and every kind in the tree was compared, computed values too.
    EXPECT_EQ(expected.size(), chipsInTree + 29);
    EXPECT_EQ(actual.at("nct6775-isa-0290 voltage#1 +5V"), 5.08);
    EXPECT_TRUE(actual.contains("bat0-virtual-0 current#0 curr1"));
}

}  // namespace
