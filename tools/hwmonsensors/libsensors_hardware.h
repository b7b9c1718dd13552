// The real hardware: the chips that libsensors detects under /sys/class/hwmon,
// with the labels and computed values that the system's sensors3.conf gives
// them, as `sensors` shows them.
#pragma once

#include "tools/hwmonsensors/poller.h"

namespace hwmonsensors {

class LibsensorsHardware final : public Hardware {
  public:
    LibsensorsHardware() = default;
    ~LibsensorsHardware() override;
    LibsensorsHardware(const LibsensorsHardware &) = delete;
    LibsensorsHardware &operator=(const LibsensorsHardware &) = delete;

    std::string fingerprint() override;
    int scan(std::vector<Chip> &chips) override;
    bool read(const Chip &chip, const Reading &reading, double &value) override;

  private:
    bool initialised_ = false;
};

}  // namespace hwmonsensors
