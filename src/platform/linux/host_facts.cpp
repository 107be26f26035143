#include "platform/linux/host_facts.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "platform/linux/smbios_memory.h"
#include "platform/text.h"

namespace tarvex::linuxhost {

namespace fs = std::filesystem;
using platform::Utf8ToUtf16;

namespace {

constexpr const char16_t* kUnknown = u"Unknown";
constexpr uint32_t kSmbiosUnknownMemoryType = 2;

// The lines of a text, without their line ends.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        lines.push_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

std::optional<uint64_t> Decimal(std::string_view text) {
    uint64_t v = 0;
    size_t digits = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || digits == 19) {
            break;
        }
        v = v * 10 + static_cast<uint64_t>(c - '0');
        ++digits;
    }
    return digits == 0 ? std::nullopt : std::optional(v);
}

std::u16string FactOr(const fs::path& file, const char16_t* fallback) {
    const std::string text = PrintableAscii(ReadTrimmed(file));
    return text.empty() ? std::u16string(fallback) : Utf8ToUtf16(text);
}

struct Package {
    std::string name;
    std::string vendor;
    std::optional<uint64_t> coresField;
    std::set<std::string> coreIds;
    uint32_t logical = 0;
    double mhz = 0;
};

const char16_t* ControllerName(std::string_view classCode) {
    if (classCode == "010601") {
        return u"Standard SATA AHCI Controller";
    }
    if (classCode == "010802") {
        return u"Standard NVM Express Controller";
    }
    if (classCode.rfind("0101", 0) == 0) {
        return u"Standard Dual Channel PCI IDE Controller";
    }
    return u"PCI Storage Controller";
}

// (device << 3) | function of "0000:00:1f.2": 0xFA.
uint32_t DevFn(const std::string& address) {
    const uint32_t device = static_cast<uint32_t>(std::stoul(address.substr(8, 2), nullptr, 16));
    const uint32_t function = static_cast<uint32_t>(std::stoul(address.substr(11, 1), nullptr, 16));
    return ((device << 3) | (function & 7)) & 0xFF;
}

}  // namespace

std::vector<sim::ProcessorProfile> ParseCpuInfo(std::string_view cpuinfo,
                                                std::optional<uint64_t> maxFrequencyKhz) {
    std::map<uint64_t, Package> packages;
    std::map<std::string, std::string> entry;
    const auto flush = [&] {
        if (entry.count("processor") != 0) {
            const uint64_t id = Decimal(entry["physical id"]).value_or(0);
            Package& p = packages[id];
            for (const char* key : {"model name", "Processor", "cpu model"}) {
                if (p.name.empty() && entry.count(key) != 0) {
                    p.name = entry[key];
                }
            }
            if (p.vendor.empty()) {
                p.vendor = entry["vendor_id"];
            }
            if (!p.coresField) {
                p.coresField = Decimal(entry["cpu cores"]);
            }
            if (entry.count("core id") != 0) {
                p.coreIds.insert(entry["core id"]);
            }
            if (p.mhz == 0 && entry.count("cpu MHz") != 0) {
                p.mhz = std::strtod(entry["cpu MHz"].c_str(), nullptr);
            }
            ++p.logical;
        }
        entry.clear();
    };
    for (std::string_view line : Lines(cpuinfo)) {
        const size_t colon = line.find(':');
        if (Trim(line).empty()) {
            flush();
        } else if (colon != std::string_view::npos) {
            entry[Trim(line.substr(0, colon))] = PrintableAscii(Trim(line.substr(colon + 1)));
        }
    }
    flush();
    std::vector<sim::ProcessorProfile> processors;
    for (const auto& [id, p] : packages) {
        sim::ProcessorProfile c;
        c.name = p.name.empty() ? u"Unknown processor" : Utf8ToUtf16(p.name);
        c.manufacturer = p.vendor.empty() ? kUnknown : Utf8ToUtf16(p.vendor);
        c.addressWidth = sizeof(void*) == 8 ? 64 : 32;
        const uint64_t cores =
            p.coresField.value_or(p.coreIds.empty() ? p.logical : p.coreIds.size());
        c.cores = static_cast<uint32_t>(std::clamp<uint64_t>(cores, 1, 4096));
        const double mhz = maxFrequencyKhz && *maxFrequencyKhz > 0
                               ? static_cast<double>(*maxFrequencyKhz) / 1000.0
                               : p.mhz;
        c.maxClockSpeed = static_cast<uint32_t>(std::clamp(std::lround(mhz), 0L, 1000000L));
        processors.push_back(std::move(c));
    }
    return processors;
}

std::optional<uint64_t> ParseMemTotal(std::string_view meminfo) {
    for (std::string_view line : Lines(meminfo)) {
        if (line.rfind("MemTotal:", 0) == 0) {
            const std::string value = Trim(line.substr(9));
            const std::optional<uint64_t> kib = Decimal(value);
            if (kib && *kib <= (UINT64_MAX >> 10)) {
                return *kib << 10;
            }
        }
    }
    return std::nullopt;
}

std::string OsReleaseValue(std::string_view osRelease, std::string_view key) {
    for (std::string_view line : Lines(osRelease)) {
        const std::string text = Trim(line);
        if (text.size() <= key.size() || text.compare(0, key.size(), key) != 0 ||
            text[key.size()] != '=') {
            continue;
        }
        std::string_view value = std::string_view(text).substr(key.size() + 1);
        std::string out;
        if (!value.empty() && (value.front() == '"' || value.front() == '\'')) {
            const char quote = value.front();
            for (size_t i = 1; i < value.size() && value[i] != quote; ++i) {
                if (quote == '"' && value[i] == '\\' && i + 1 < value.size()) {
                    ++i;
                }
                out.push_back(value[i]);
            }
        } else {
            out = std::string(value);
        }
        return PrintableAscii(out);
    }
    return {};
}

std::vector<sim::ControllerProfile> HostControllers(const HostInventory& inventory,
                                                    const std::string& kernelRelease) {
    std::vector<sim::ControllerProfile> controllers;
    std::map<std::string, size_t> byAddress;
    for (const HostDisk& d : inventory.disks) {
        if (d.kind == HostDiskKind::Usb || d.pciAddress.empty()) {
            continue;
        }
        auto [it, added] = byAddress.emplace(d.pciAddress, controllers.size());
        if (added) {
            sim::ControllerProfile c;
            const std::string classCode =
                d.pciClassCode.empty() ? std::string("000000") : d.pciClassCode;
            c.name = ControllerName(classCode);
            c.pnpDeviceId = Utf8ToUtf16(fmt::format(
                "PCI\\VEN_{:04X}&DEV_{:04X}&SUBSYS_{:04X}{:04X}&REV_{:02X}\\3&{:08X}&0&{:02X}",
                d.pciVendor, d.pciDevice, d.pciSubsystemDevice, d.pciSubsystemVendor, d.pciRevision,
                Fnv1a(d.pciAddress), DevFn(d.pciAddress)));
            c.classCode = Utf8ToUtf16(classCode);
            c.hardwareIds = sim::DefaultHardwareIds(c.pnpDeviceId, c.classCode);
            c.manufacturer = u"(Standard storage controllers)";
            c.driverProvider =
                Utf8ToUtf16(d.driver.empty() ? std::string("Linux") : "Linux " + d.driver);
            c.driverVersion = Utf8ToUtf16(kernelRelease);
            const bool ideLike = classCode.rfind("0101", 0) == 0 || classCode.rfind("0106", 0) == 0;
            c.wmiClass = ideLike ? sim::ControllerClass::Ide : sim::ControllerClass::Scsi;
            controllers.push_back(std::move(c));
        }
        controllers[it->second].disks.push_back(d.number);
    }
    return controllers;
}

HostFacts ReadHostFacts(const HostRoots& roots, const HostInventory& inventory) {
    HostFacts facts;
    sim::HardwareProfile& h = facts.hardware;

    const std::optional<std::string> cpuinfo = ReadSmallFile(roots.proc / "cpuinfo", 16u << 20);
    h.processors =
        ParseCpuInfo(cpuinfo.value_or(""), ReadNumber(roots.sys / "devices" / "system" / "cpu" /
                                                      "cpu0" / "cpufreq" / "cpuinfo_max_freq"));
    if (h.processors.empty()) {
        sim::ProcessorProfile unknown;
        unknown.name = u"Unknown processor";
        unknown.manufacturer = kUnknown;
        unknown.addressWidth = sizeof(void*) == 8 ? 64 : 32;
        unknown.cores = 1;
        unknown.maxClockSpeed = 0;
        h.processors.push_back(unknown);
    }

    const std::optional<uint64_t> total =
        ParseMemTotal(ReadSmallFile(roots.proc / "meminfo").value_or(""));
    if (const std::optional<std::string> table =
            ReadSmallFile(roots.sys / "firmware" / "dmi" / "tables" / "DMI", 1u << 20)) {
        h.memory = ParseSmbiosMemory(
            std::span(reinterpret_cast<const uint8_t*>(table->data()), table->size()));
    }
    if (h.memory.empty()) {
        // No readable SMBIOS table (it needs root): one module holding what the kernel sees.
        sim::MemoryModuleProfile m;
        m.deviceLocator = u"DIMM0";
        m.bankLabel = u"BANK 0";
        m.manufacturer = kUnknown;
        m.memoryType = kSmbiosUnknownMemoryType;
        m.speed = 0;
        m.capacity = total.value_or(0);
        h.memory.push_back(m);
    }
    if (total) {
        h.totalPhysicalMemory = *total;
    } else {
        uint64_t sum = 0;
        for (const sim::MemoryModuleProfile& m : h.memory) {
            sum += m.capacity;
        }
        h.totalPhysicalMemory = sum;
    }

    const fs::path dmi = roots.sys / "class" / "dmi" / "id";
    h.boardManufacturer = FactOr(dmi / "board_vendor", kUnknown);
    h.boardProduct = FactOr(dmi / "board_name", kUnknown);
    h.biosManufacturer = FactOr(dmi / "bios_vendor", kUnknown);
    h.biosVersion = FactOr(dmi / "bios_version", kUnknown);
    h.systemManufacturer = FactOr(dmi / "sys_vendor", kUnknown);
    h.systemModel = FactOr(dmi / "product_name", kUnknown);
    h.osArchitecture = sizeof(void*) == 8 ? u"64-bit" : u"32-bit";

    const std::string osRelease = ReadSmallFile(roots.etc / "os-release").value_or("");
    facts.osPrettyName = OsReleaseValue(osRelease, "PRETTY_NAME");
    if (facts.osPrettyName.empty()) {
        facts.osPrettyName = OsReleaseValue(osRelease, "NAME");
    }
    if (facts.osPrettyName.empty()) {
        facts.osPrettyName = "Linux";
    }
    facts.hostName = PrintableAscii(ReadTrimmed(roots.proc / "sys" / "kernel" / "hostname"));
    if (facts.hostName.empty()) {
        facts.hostName = "localhost";
    }
    facts.kernelRelease = PrintableAscii(ReadTrimmed(roots.proc / "sys" / "kernel" / "osrelease"));
    h.controllers = HostControllers(inventory, facts.kernelRelease);
    return facts;
}

}  // namespace tarvex::linuxhost
