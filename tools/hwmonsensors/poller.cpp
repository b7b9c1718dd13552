#include "tools/hwmonsensors/poller.h"

#include <algorithm>
#include <limits>

namespace hwmonsensors {

bool Chip::add(ReadingType type, std::string label, int subfeature)
{
    std::vector<Reading> &ofType = readings[static_cast<std::size_t>(type) - 1];
    if (ofType.size() >= static_cast<std::size_t>(readingsPerType))
        return false;
    ofType.push_back(Reading{std::move(label), subfeature});
    return true;
}

Poller::Poller(Hardware &hardware, unsigned rescanPeriod)
    : hardware_(hardware), rescanPeriod_(std::max(rescanPeriod, 1u))
{
}

int Poller::start()
{
    const int error = scan(hardware_.fingerprint());
    readValues();
    return error;
}

void Poller::poll()
{
    // The fingerprint is taken before the scan, so that a change made while
    // libsensors looks at the hardware brings another scan on the next poll.
    std::string now = hardware_.fingerprint();
    ++pollsSinceScan_;
    if (now != fingerprint_ || pollsSinceScan_ >= rescanPeriod_)
        scan(std::move(now));
    readValues();
}

int Poller::scan(std::string fingerprint)
{
    fingerprint_ = std::move(fingerprint);
    pollsSinceScan_ = 0;
    chips_.clear();
    const int error = hardware_.scan(chips_);
    // A failed scan serves no chips rather than some of them; the next is tried
    // when the hardware or its configuration changes, or the period is up.
    if (error != 0)
        chips_.clear();
    return error;
}

void Poller::readValues()
{
    for (Chip &chip : chips_) {
        for (std::vector<Reading> &ofType : chip.readings) {
            for (Reading &reading : ofType) {
                // A value that cannot be read now is invalid for this poll, never the
                // one from before.
                double value = 0;
                reading.valid = hardware_.read(chip, reading, value);
                reading.value = reading.valid ? value : std::numeric_limits<double>::quiet_NaN();
            }
        }
    }
}

std::int32_t Poller::count() const
{
    return static_cast<std::int32_t>(chips_.size());
}

const Chip *Poller::chip(std::int32_t sensor) const
{
    if (sensor < 0 || sensor >= count())
        return nullptr;
    return &chips_[static_cast<std::size_t>(sensor)];
}

const Reading *Poller::reading(std::int32_t type, std::int32_t sensor, std::int32_t index) const
{
    const Chip *found = chip(sensor);
    if (found == nullptr || type < firstReadingType || type > lastReadingType || index < 0) {
        return nullptr;
    }
    const std::vector<Reading> &ofType = found->readings[static_cast<std::size_t>(type - 1)];
    if (static_cast<std::size_t>(index) >= ofType.size())
        return nullptr;
    return &ofType[static_cast<std::size_t>(index)];
}

void copyTerminated(std::span<char> out, std::string_view text)
{
    if (out.empty())
        return;
    const std::size_t length = std::min(text.size(), out.size() - 1);
    std::copy_n(text.data(), length, out.data());
    out[length] = '\0';
}

}  // namespace hwmonsensors
