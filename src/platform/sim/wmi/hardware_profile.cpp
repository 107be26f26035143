#include "platform/sim/wmi/hardware_profile.h"

#include <algorithm>
#include <cctype>
#include <map>

#include <nlohmann/json.hpp>

#include "platform/sim/json_reader.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

using nlohmann::json;
using platform::Utf8ToUtf16;

namespace {

constexpr int32_t RPC_E_CHANGED_MODE = static_cast<int32_t>(0x80010106u);
constexpr int32_t REGDB_E_CLASSNOTREG = static_cast<int32_t>(0x80040154u);
constexpr int32_t WBEM_E_ACCESS_DENIED = static_cast<int32_t>(0x80041003u);
constexpr int32_t E_ACCESSDENIED = static_cast<int32_t>(0x80070005u);

std::u16string Text(JsonObject& o, const std::string& key, const std::u16string& fallback, size_t max = 255) {
    auto v = o.OptionalString(key, max * 3);
    if (!v) {
        return fallback;
    }
    std::u16string t = Utf8ToUtf16(*v);
    if (t.size() > max) {
        throw JsonError(o.PathOf(key), "text is longer than " + std::to_string(max) + " characters");
    }
    return t;
}

std::u16string RequiredText(JsonObject& o, const std::string& key, size_t max = 255) {
    o.String(key, max * 3);  // reports a missing or mistyped field
    std::u16string t = Text(o, key, u"", max);
    if (t.empty()) {
        throw JsonError(o.PathOf(key), "must not be empty");
    }
    return t;
}

bool IsHex(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

std::u16string Upper(std::u16string s) {
    for (char16_t& c : s) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return s;
}

ControllerProfile ParseController(const json& node, const std::string& path) {
    JsonObject o(node, path);
    ControllerProfile c;
    c.name = RequiredText(o, "name");
    c.pnpDeviceId = Upper(RequiredText(o, "pnpDeviceId", 200));
    if (c.pnpDeviceId.find(u'\\') == std::u16string::npos || c.pnpDeviceId.find(u'"') != std::u16string::npos) {
        throw JsonError(o.PathOf("pnpDeviceId"),
                        "expected a device instance id such as \"PCI\\\\VEN_8086&DEV_A102&REV_31\\\\3&11583659&0&B8\"");
    }
    const std::string cc = o.String("classCode", 6);
    if (cc.size() != 6 || !IsHex(cc)) {
        throw JsonError(o.PathOf("classCode"), "expected six hexadecimal digits such as \"010601\"");
    }
    c.classCode = Upper(Utf8ToUtf16(cc));
    if (const json* ids = o.Raw("hardwareIds")) {
        const std::string p = o.PathOf("hardwareIds");
        const json& arr = RequireArray(ids, p);
        for (size_t i = 0; i < arr.size(); ++i) {
            if (!arr[i].is_string() || arr[i].get<std::string>().empty()) {
                throw JsonError(ElementPath(p, i), "expected a non-empty string");
            }
            c.hardwareIds.push_back(Utf8ToUtf16(arr[i].get<std::string>()));
        }
    } else {
        c.hardwareIds = DefaultHardwareIds(c.pnpDeviceId, c.classCode);
    }
    c.manufacturer = Text(o, "manufacturer", u"(Standard storage controllers)");
    c.driverProvider = Text(o, "driverProvider", u"Microsoft");
    c.driverVersion = Text(o, "driverVersion", u"6.1.7601.17514");
    const bool ideLike = cc.rfind("0101", 0) == 0 || cc.rfind("0106", 0) == 0;
    if (auto cls = o.OptionalString("wmiClass")) {
        if (*cls != "IDE" && *cls != "SCSI") {
            throw JsonError(o.PathOf("wmiClass"), "expected IDE or SCSI, found \"" + *cls + "\"");
        }
        c.wmiClass = *cls == "IDE" ? ControllerClass::Ide : ControllerClass::Scsi;
    } else {
        c.wmiClass = ideLike ? ControllerClass::Ide : ControllerClass::Scsi;
    }
    if (const json* disks = o.Raw("disks")) {
        const std::string p = o.PathOf("disks");
        const json& arr = RequireArray(disks, p);
        for (size_t i = 0; i < arr.size(); ++i) {
            if (!arr[i].is_number_unsigned() || arr[i].get<uint64_t>() > 99) {
                throw JsonError(ElementPath(p, i), "expected a disk number from 0 to 99");
            }
            c.disks.push_back(arr[i].get<uint32_t>());
        }
    }
    o.Finish();
    return c;
}

MemoryModuleProfile ParseModule(const json& node, const std::string& path, size_t index) {
    JsonObject o(node, path);
    MemoryModuleProfile m;
    const std::u16string n = Utf8ToUtf16(std::to_string(index));
    m.deviceLocator = Text(o, "deviceLocator", u"DIMM" + n);
    m.bankLabel = Text(o, "bankLabel", u"BANK " + n);
    m.manufacturer = Text(o, "manufacturer", u"Orvane Memory");
    m.partNumber = Text(o, "partNumber", u"");
    m.memoryType = static_cast<uint32_t>(o.OptionalInt("memoryType", 0, 0xFFFF).value_or(24));
    m.speed = static_cast<uint32_t>(o.OptionalInt("speed", 0, 100000).value_or(1600));
    m.capacity = o.OptionalUInt64("capacityBytes").value_or(4294967296ull);
    o.Finish();
    return m;
}

ProcessorProfile ParseProcessor(const json& node, const std::string& path) {
    JsonObject o(node, path);
    ProcessorProfile p;
    p.name = Text(o, "name", p.name, 127);
    p.manufacturer = Text(o, "manufacturer", p.manufacturer);
    const int64_t width = o.OptionalInt("addressWidth", 0, 64).value_or(64);
    if (width != 32 && width != 64) {
        throw JsonError(o.PathOf("addressWidth"), "expected 32 or 64");
    }
    p.addressWidth = static_cast<uint32_t>(width);
    p.cores = static_cast<uint32_t>(o.OptionalInt("cores", 1, 256).value_or(4));
    p.maxClockSpeed = static_cast<uint32_t>(o.OptionalInt("maxClockSpeed", 1, 100000).value_or(3300));
    o.Finish();
    return p;
}

struct StepName {
    const char* name;
    WmiFaultProfile::On on;
    int32_t error;
};
constexpr StepName kSteps[] = {
    {"coInitialize", WmiFaultProfile::On::CoInitialize, RPC_E_CHANGED_MODE},
    {"createLocator", WmiFaultProfile::On::CreateLocator, REGDB_E_CLASSNOTREG},
    {"connectServer", WmiFaultProfile::On::ConnectServer, WBEM_E_ACCESS_DENIED},
    {"setProxyBlanket", WmiFaultProfile::On::SetProxyBlanket, E_ACCESSDENIED},
    {"execQuery", WmiFaultProfile::On::ExecQuery, win::WBEM_E_FAILED},
    {"nullEnumerator", WmiFaultProfile::On::NullEnumerator, win::S_OK},
};

WmiFaultProfile ParseWmiFault(const json& node, const std::string& path) {
    JsonObject o(node, path);
    WmiFaultProfile f;
    const std::string on = o.String("on");
    const StepName* step = nullptr;
    for (const StepName& s : kSteps) {
        step = on == s.name ? &s : step;
    }
    if (step == nullptr) {
        throw JsonError(o.PathOf("on"), "expected one of coInitialize, createLocator, connectServer, "
                                        "setProxyBlanket, execQuery, nullEnumerator, found \"" + on + "\"");
    }
    f.on = step->on;
    f.error = step->error;
    const bool perClass = f.on == WmiFaultProfile::On::ExecQuery || f.on == WmiFaultProfile::On::NullEnumerator;
    if (perClass) {
        f.className = Text(o, "class", u"", 128);
    }
    if (f.on != WmiFaultProfile::On::NullEnumerator) {
        if (auto e = o.OptionalInt("error", INT32_MIN, 0xFFFFFFFFll)) {
            f.error = static_cast<int32_t>(static_cast<uint32_t>(*e));
            if (f.error >= 0) {
                throw JsonError(o.PathOf("error"), "expected a failing HRESULT (bit 31 set), such as 2147749889");
            }
        }
    }
    if (auto times = o.OptionalInt("times", 1, 1000000)) {
        f.times = static_cast<uint32_t>(*times);
    }
    o.Finish();
    return f;
}

}  // namespace

std::vector<std::u16string> DefaultHardwareIds(const std::u16string& pnpId, const std::u16string& classCode) {
    std::u16string id = pnpId.substr(0, pnpId.find(u'\\', pnpId.find(u'\\') + 1));
    std::vector<std::u16string> ids{id};
    const size_t rev = id.rfind(u"&REV_");
    if (rev != std::u16string::npos) {
        ids.push_back(id.substr(0, rev));
    }
    const size_t subsys = id.find(u"&SUBSYS_");
    const std::u16string vendorDevice = subsys == std::u16string::npos ? id.substr(0, id.find(u"&REV_")) : id.substr(0, subsys);
    ids.push_back(vendorDevice + u"&CC_" + classCode);
    ids.push_back(vendorDevice + u"&CC_" + classCode.substr(0, 4));
    return ids;
}

void ParseHardwareProfile(const json& node, const std::string& path, HardwareProfile* h) {
    JsonObject o(node, path);
    if (auto board = o.OptionalObject("board")) {
        h->boardManufacturer = Text(*board, "manufacturer", h->boardManufacturer);
        h->boardProduct = Text(*board, "product", h->boardProduct);
        board->Finish();
    }
    if (auto bios = o.OptionalObject("bios")) {
        h->biosVersion = Text(*bios, "version", h->biosVersion, 63);
        h->biosManufacturer = Text(*bios, "manufacturer", h->boardManufacturer);
        bios->Finish();
    } else {
        h->biosManufacturer = h->boardManufacturer;
    }
    h->systemManufacturer = Text(o, "systemManufacturer", h->boardManufacturer);
    h->systemModel = Text(o, "systemModel", h->boardProduct);
    if (const json* procs = o.Raw("processors")) {
        const std::string p = o.PathOf("processors");
        const json& arr = RequireArray(procs, p);
        if (arr.empty() || arr.size() > 64) {
            throw JsonError(p, "expected 1 to 64 processors");
        }
        for (size_t i = 0; i < arr.size(); ++i) {
            h->processors.push_back(ParseProcessor(arr[i], ElementPath(p, i)));
        }
    }
    h->totalPhysicalMemory = o.OptionalUInt64("totalPhysicalMemoryBytes");
    if (const json* mem = o.Raw("memory")) {
        const std::string p = o.PathOf("memory");
        const json& arr = RequireArray(mem, p);
        for (size_t i = 0; i < arr.size(); ++i) {
            h->memory.push_back(ParseModule(arr[i], ElementPath(p, i), i));
        }
    }
    if (const json* ctrls = o.Raw("controllers")) {
        const std::string p = o.PathOf("controllers");
        const json& arr = RequireArray(ctrls, p);
        h->controllers.emplace();
        for (size_t i = 0; i < arr.size(); ++i) {
            h->controllers->push_back(ParseController(arr[i], ElementPath(p, i)));
        }
    }
    o.Finish();
}

void ParseWmiProfile(const json& node, const std::string& path, HardwareProfile* h) {
    JsonObject o(node, path);
    if (const json* faults = o.Raw("faults")) {
        const std::string p = o.PathOf("faults");
        const json& arr = RequireArray(faults, p);
        for (size_t i = 0; i < arr.size(); ++i) {
            h->wmiFaults.push_back(ParseWmiFault(arr[i], ElementPath(p, i)));
        }
    }
    o.Finish();
}

void CompleteHardwareProfile(HardwareProfile* h, const std::vector<DiskProfile>& disks,
                             const std::string& controllersPath) {
    if (h->processors.empty()) {
        h->processors.emplace_back();
    }
    if (h->memory.empty()) {
        MemoryModuleProfile m;
        m.deviceLocator = u"DIMM0";
        m.bankLabel = u"BANK 0";
        m.manufacturer = u"Orvane Memory";
        m.capacity = 8589934592ull;
        h->memory.push_back(m);
    }
    if (!h->totalPhysicalMemory) {
        // Windows reports a little less than the modules hold (what the firmware keeps).
        uint64_t sum = 0;
        for (const MemoryModuleProfile& m : h->memory) {
            sum += m.capacity;
        }
        h->totalPhysicalMemory = sum > 268435456ull ? sum - 134217728ull : sum;
    }
    if (!h->controllers) {
        // An AHCI controller with every SATA disk, and one NVMe controller per NVMe disk.
        h->controllers.emplace();
        ControllerProfile ahci;
        ahci.name = u"Standard AHCI 1.0 Serial ATA Controller";
        ahci.pnpDeviceId = u"PCI\\VEN_8086&DEV_8C02&SUBSYS_86941043&REV_05\\3&11583659&0&FA";
        ahci.classCode = u"010601";
        ahci.hardwareIds = DefaultHardwareIds(ahci.pnpDeviceId, ahci.classCode);
        ahci.manufacturer = u"Standard SATA AHCI Controller";
        ahci.driverProvider = u"Microsoft";
        ahci.driverVersion = u"6.1.7601.18231";
        for (const DiskProfile& d : disks) {
            if (d.kind == DiskKind::Sata) {
                ahci.disks.push_back(d.number);
            }
        }
        h->controllers->push_back(std::move(ahci));
        int slot = 0;
        for (const DiskProfile& d : disks) {
            if (d.kind != DiskKind::Nvme) {
                continue;
            }
            ControllerProfile nvme;
            nvme.name = u"Standard NVM Express Controller";
            nvme.pnpDeviceId = u"PCI\\VEN_1E4B&DEV_1202&SUBSYS_12021E4B&REV_01\\4&2A1B3C4D&0&00" +
                               Utf8ToUtf16(std::to_string(slot++ % 10)) + u"8";
            nvme.classCode = u"010802";
            nvme.hardwareIds = DefaultHardwareIds(nvme.pnpDeviceId, nvme.classCode);
            nvme.manufacturer = u"Standard NVM Express Controller";
            nvme.driverProvider = u"Microsoft";
            nvme.driverVersion = u"6.1.7601.18615";
            nvme.wmiClass = ControllerClass::Scsi;
            nvme.disks.push_back(d.number);
            h->controllers->push_back(std::move(nvme));
        }
        return;
    }
    std::map<uint32_t, const DiskProfile*> byNumber;
    for (const DiskProfile& d : disks) {
        byNumber[d.number] = &d;
    }
    std::map<uint32_t, size_t> owner;
    std::map<std::u16string, size_t> ids;
    for (size_t i = 0; i < h->controllers->size(); ++i) {
        const ControllerProfile& c = (*h->controllers)[i];
        const std::string cp = ElementPath(controllersPath, i);
        if (!ids.emplace(platform::FoldCase(c.pnpDeviceId), i).second) {
            throw JsonError(cp + ".pnpDeviceId", "two controllers have the same PNP device id");
        }
        for (size_t k = 0; k < c.disks.size(); ++k) {
            const std::string dp = ElementPath(cp + ".disks", k);
            auto it = byNumber.find(c.disks[k]);
            if (it == byNumber.end()) {
                throw JsonError(dp, "there is no disk " + std::to_string(c.disks[k]));
            }
            if (it->second->kind == DiskKind::Usb) {
                throw JsonError(dp, "disk " + std::to_string(c.disks[k]) +
                                        " is a USB disk; it hangs on the USB host controller, not on a storage controller");
            }
            if (!owner.emplace(c.disks[k], i).second) {
                throw JsonError(dp, "disk " + std::to_string(c.disks[k]) + " already hangs on controller " +
                                        std::to_string(owner[c.disks[k]]));
            }
        }
    }
}

}  // namespace tarvex::sim
