#include "scenario.h"

namespace simsensors {

namespace {

constexpr int cores = 8;

void addSensor(Scenario &scenario, std::string name)
{
    scenario.sensors.push_back({std::move(name), {}});
}

// Adds a reading to the last sensor at the next index of its type.
void add(Scenario &scenario, Type type, std::string label, double value, double drift)
{
    Sensor &sensor = scenario.sensors.back();
    const auto code = static_cast<std::int32_t>(type);
    addReading(sensor, code, nextIndex(sensor, code), {std::move(label), value, drift, true});
}

std::string core(int number, std::string_view what)
{
    return "Core " + std::to_string(number) + " " + std::string(what);
}

}  // namespace

Scenario defaultScenario()
{
    using enum Type;
    Scenario s;

    addSensor(s, "System: ASUS ROG STRIX B550-F GAMING (WI-FI)");
    add(s, other, "Virtual Memory Committed", 14250, 300);
    add(s, other, "Virtual Memory Available", 18420, 300);
    add(s, usage, "Virtual Memory Load", 43.6, 1);
    add(s, other, "Physical Memory Used", 11830, 250);
    add(s, other, "Physical Memory Available", 20870, 250);
    add(s, usage, "Physical Memory Load", 36.2, 0.8);

    addSensor(s, "CPU [#0]: AMD Ryzen 7 5800X");
    for (int c = 0; c < cores; ++c)
        add(s, voltage, core(c, "VID"), 1.35, 0.04);
    for (int c = 0; c < cores; ++c)
        add(s, clock, core(c, "Clock"), 4450 - 25 * c, 120);
    add(s, clock, "Bus Clock", 100, 0.05);
    for (int c = 0; c < cores; ++c)
        add(s, clock, core(c, "Effective Clock"), 1800, 600);
    add(s, clock, "Average Effective Clock", 1650, 400);
    for (int t = 0; t < 2 * cores; ++t) {
        add(s, usage, core(t / 2, t % 2 == 0 ? "T0 Usage" : "T1 Usage"), 18, 12);
    }
    add(s, usage, "Max CPU/Thread Usage", 64, 20);
    add(s, usage, "Total CPU Usage", 17.5, 8);

    addSensor(s, "CPU [#0]: AMD Ryzen 7 5800X: Enhanced");
    add(s, temperature, "CPU (Tctl/Tdie)", 58.4, 4);
    add(s, temperature, "CPU Die (average)", 55.1, 4);
    add(s, temperature, "CPU CCD1 (Tdie)", 52.3, 4);
    for (int c = 0; c < cores; ++c)
        add(s, temperature, core(c, "Temperature"), 50 + 0.8 * c, 5);
    add(s, voltage, "CPU Core Voltage (SVI2 TFN)", 1.356, 0.03);
    add(s, voltage, "SoC Voltage (SVI2 TFN)", 1.094, 0.005);
    add(s, current, "CPU Core Current (SVI2 TFN)", 38.5, 9);
    add(s, current, "SoC Current (SVI2 TFN)", 11.2, 1.5);
    add(s, power, "CPU Package Power", 62.5, 14);
    for (int c = 0; c < cores; ++c)
        add(s, power, core(c, "Power"), 4.8, 2);
    add(s, power, "CPU Core Power (SVI2 TFN)", 45.8, 10);
    add(s, power, "CPU SoC Power (SVI2 TFN)", 12.3, 1);
    add(s, clock, "Infinity Fabric Clock (FCLK)", 1800, 0.5);
    add(s, clock, "Memory Controller Clock (UCLK)", 1800, 0.5);
    add(s, usage, "CPU PPT Limit", 35, 8);
    add(s, usage, "CPU TDC Limit", 30, 6);
    add(s, usage, "CPU EDC Limit", 50, 10);
    add(s, other, "Thermal Throttling (HTC)", 0, 0);

    addSensor(s, "CPU [#0]: AMD Ryzen 7 5800X: C-State Residency");
    for (int c = 0; c < cores; ++c)
        add(s, usage, core(c, "C0 Residency"), 22, 10);
    for (int c = 0; c < cores; ++c)
        add(s, usage, core(c, "C1 Residency"), 70, 10);

    addSensor(s, "Memory Timings");
    add(s, clock, "Memory Clock", 1799.6, 0.3);
    add(s, other, "Memory Clock Ratio", 18, 0);
    add(s, other, "Tcas", 16, 0);
    add(s, other, "Trcd", 19, 0);
    add(s, other, "Trp", 19, 0);
    add(s, other, "Tras", 39, 0);
    add(s, other, "Trc", 58, 0);
    add(s, other, "Trfc", 630, 0);
    add(s, other, "Command Rate", 1, 0);

    addSensor(s, "ASUS ROG STRIX B550-F GAMING (WI-FI) (Nuvoton NCT6798D)");
    add(s, temperature, "Motherboard", 36, 1);
    add(s, temperature, "CPU", 48, 3);
    add(s, temperature, "Chipset", 51, 1);
    add(s, temperature, "T_Sensor", 29, 0.5);
    add(s, voltage, "Vcore", 1.368, 0.03);
    add(s, voltage, "+5V", 5.04, 0.02);
    add(s, voltage, "AVCC", 3.392, 0.01);
    add(s, voltage, "3VCC", 3.376, 0.01);
    add(s, voltage, "+12V", 12.096, 0.05);
    add(s, voltage, "3VSB", 3.392, 0.01);
    add(s, voltage, "VBAT", 3.2, 0.005);
    add(s, voltage, "VTT", 1.05, 0.005);
    add(s, voltage, "DRAM", 1.36, 0.005);
    add(s, voltage, "VSOC", 1.1, 0.005);
    add(s, fan, "CPU", 1180, 60);
    add(s, fan, "Chassis1", 870, 30);
    add(s, fan, "Chassis2", 860, 30);
    add(s, fan, "Chassis3", 0, 0);
    add(s, fan, "AIO Pump", 2650, 40);

    addSensor(s, "DIMM Temperature Sensor");
    add(s, temperature, "DIMM[0] Temperature", 41, 1);
    add(s, temperature, "DIMM[2] Temperature", 42.5, 1);

    addSensor(s, "GPU [#0]: NVIDIA GeForce RTX 3070");
    add(s, temperature, "GPU Temperature", 47, 5);
    add(s, temperature, "GPU Hot Spot Temperature", 58, 6);
    add(s, voltage, "GPU Core Voltage", 0.725, 0.1);
    add(s, fan, "GPU Fan1", 1150, 100);
    add(s, fan, "GPU Fan2", 1140, 100);
    add(s, power, "GPU Power", 48, 20);
    add(s, power, "GPU Core (NVVDD) Input Power (sum)", 22, 10);
    add(s, power, "GPU FBVDD Input Power", 9, 2);
    add(s, power, "GPU PCIe +12V Input Power", 20, 6);
    add(s, power, "GPU 8-pin #1 Input Power", 18, 6);
    add(s, power, "GPU 8-pin #2 Input Power", 16, 6);
    add(s, clock, "GPU Clock", 1410, 300);
    add(s, clock, "GPU Memory Clock", 1750, 0.5);
    add(s, clock, "GPU Video Clock", 1230, 200);
    // The fan duty shares its label with the fan speed, as the vendor reports it.
    add(s, usage, "GPU Fan1", 38, 3);
    add(s, usage, "GPU Fan2", 38, 3);
    add(s, usage, "GPU Core Load", 22, 15);
    add(s, usage, "GPU Memory Controller Load", 14, 8);
    add(s, usage, "GPU Video Engine Load", 0, 0);
    add(s, usage, "GPU Bus Load", 3, 2);
    add(s, usage, "GPU Memory Usage", 24, 2);
    add(s, usage, "Total GPU Power [% of TDP]", 22, 9);
    add(s, other, "GPU Memory Allocated", 1980, 60);
    add(s, other, "GPU D3D Memory Dedicated", 1730, 60);
    add(s, other, "GPU D3D Memory Dynamic", 210, 15);
    add(s, other, "PCIe Link Speed", 16, 0);

    const std::string ssd = "Samsung SSD 980 PRO 1TB (S5GXNX0R512345W)";
    addSensor(s, "S.M.A.R.T.: " + ssd);
    add(s, temperature, "Drive Temperature", 38, 1.5);
    add(s, temperature, "Drive Temperature 2", 44, 2);
    add(s, usage, "Drive Remaining Life", 98, 0);
    add(s, usage, "Available Spare", 100, 0);
    add(s, other, "Drive Failure", 0, 0);
    add(s, other, "Drive Warning", 0, 0);
    add(s, other, "Total Host Writes", 21457, 0);
    add(s, other, "Total Host Reads", 30512, 0);

    addSensor(s, "Drive: " + ssd);
    add(s, usage, "Read Activity", 1.2, 1);
    add(s, usage, "Write Activity", 0.8, 0.7);
    add(s, usage, "Total Activity", 2, 1.5);
    add(s, other, "Read Rate", 2.4, 2);
    add(s, other, "Write Rate", 1.1, 1);
    add(s, other, "Read Total", 102400, 0);
    add(s, other, "Write Total", 88120, 0);

    const std::string hdd = "WDC WD40EZRZ-00GXCB0 (WD-WCC7K4XYZ123)";
    addSensor(s, "S.M.A.R.T.: " + hdd);
    add(s, temperature, "Drive Temperature", 33, 0.5);
    add(s, other, "Drive Failure", 0, 0);
    add(s, other, "Drive Warning", 0, 0);

    addSensor(s, "Drive: " + hdd);
    add(s, usage, "Read Activity", 0.3, 0.3);
    add(s, usage, "Write Activity", 0.1, 0.1);
    add(s, usage, "Total Activity", 0.4, 0.4);
    add(s, other, "Read Rate", 0.2, 0.2);
    add(s, other, "Write Rate", 0.1, 0.1);

    addSensor(s, "Network: Intel Ethernet Controller I225-V");
    add(s, other, "Total DL", 1843, 0);
    add(s, other, "Total UP", 312, 0);
    add(s, other, "Current DL rate", 48.5, 40);
    add(s, other, "Current UP rate", 12.2, 10);

    addSensor(s, "Windows Hardware Errors (WHEA)");
    add(s, other, "Total Errors", 0, 0);

    return s;
}

}  // namespace simsensors
