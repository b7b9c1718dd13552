#include "tools/hwmonsensors/libsensors_hardware.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <sensors/sensors.h>

namespace hwmonsensors {

namespace {

// Where libsensors finds the chips, and where it reads the system's
// configuration from on Debian and most other systems.
constexpr const char *hwmonClass = "/sys/class/hwmon";
constexpr const char *configFile = "/etc/sensors3.conf";
constexpr const char *configDirectory = "/etc/sensors.d";

// Appends the identity, change time and size of what path names, or a dash
// when nothing is there. A device that is removed and added again has a new
// inode, an edited file a new time, and a directory that gains or loses
// entries a new time and, on tmpfs, a new size, which differs even when two
// changes fall within one tick of the file system's coarse clock.
void appendStatus(std::string &summary, const std::string &path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        summary += "-;";
        return;
    }
    char text[128];
    std::snprintf(text, sizeof text, "%ju:%ju:%lld.%ld:%jd;", static_cast<std::uintmax_t>(status.st_dev),
                  static_cast<std::uintmax_t>(status.st_ino), static_cast<long long>(status.st_mtim.tv_sec),
                  status.st_mtim.tv_nsec, static_cast<std::intmax_t>(status.st_size));
    summary += text;
}

// Summarises the directory and each of its visible entries in name order, so
// that the order in which readdir lists them does not change the fingerprint.
void appendDirectory(std::string &summary, const std::string &path)
{
    appendStatus(summary, path);
    std::unique_ptr<DIR, int (*)(DIR *)> directory(opendir(path.c_str()), closedir);
    if (!directory)
        return;
    std::vector<std::string> names;
    while (const dirent *entry = readdir(directory.get())) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        summary += name;
        summary += '=';
        appendStatus(summary, path + '/' + name);
    }
}

std::string chipName(const sensors_chip_name &chip)
{
    std::string name(64, '\0');
    for (;;) {
        const int length = sensors_snprintf_chip_name(name.data(), name.size() + 1, &chip);
        if (length < 0)
            return chip.prefix != nullptr ? chip.prefix : "";
        if (static_cast<std::size_t>(length) <= name.size()) {
            name.resize(static_cast<std::size_t>(length));
            return name;
        }
        name.resize(static_cast<std::size_t>(length));
    }
}

const sensors_subfeature *valueOf(const sensors_chip_name &chip, const sensors_feature &feature,
                                  const ReadingKind &kind)
{
    for (const sensors_subfeature_type type : kind.valueSubfeatures) {
        if (type == SENSORS_SUBFEATURE_UNKNOWN)
            continue;
        if (const sensors_subfeature *found = sensors_get_subfeature(&chip, &feature, type))
            return found;
    }
    return nullptr;
}

}  // namespace

LibsensorsHardware::~LibsensorsHardware()
{
    if (initialised_)
        sensors_cleanup();
}

std::string LibsensorsHardware::fingerprint()
{
    std::string summary;
    appendStatus(summary, configFile);
    appendDirectory(summary, configDirectory);
    summary += '|';
    appendDirectory(summary, hwmonClass);
    return summary;
}

int LibsensorsHardware::scan(std::vector<Chip> &chips)
{
    // Only a fresh start makes libsensors detect chips again and re-read its
    // configuration.
    if (initialised_)
        sensors_cleanup();
    const int result = sensors_init(nullptr);
    initialised_ = result == 0;
    if (!initialised_)
        return errorNumberFor(result);

    int chipNumber = 0;
    while (const sensors_chip_name *detected = sensors_get_detected_chips(nullptr, &chipNumber)) {
        Chip chip;
        chip.name = chipName(*detected);
        chip.handle = detected;
        int featureNumber = 0;
        while (const sensors_feature *feature = sensors_get_features(detected, &featureNumber)) {
            const std::optional<ReadingKind> kind = readingKindOf(feature->type);
            if (!kind)
                continue;
            const sensors_subfeature *value = valueOf(*detected, *feature, *kind);
            if (value == nullptr)
                continue;
            // The label is taken once per scan: it changes only with the
            // configuration or the driver, and either brings a new scan.
            std::unique_ptr<char, void (*)(void *)> label(sensors_get_label(detected, feature), std::free);
            chip.add(kind->type, label ? label.get() : feature->name, value->number);
        }
        chips.push_back(std::move(chip));
    }
    return 0;
}

bool LibsensorsHardware::read(const Chip &chip, const Reading &reading, double &value)
{
    if (!initialised_)
        return false;
    return sensors_get_value(static_cast<const sensors_chip_name *>(chip.handle), reading.subfeature,
                             &value) == 0;
}

}  // namespace hwmonsensors
