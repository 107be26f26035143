#include "platform/sim/wmi/wmi_classes.h"

#include <fmt/format.h>

#include <algorithm>

#include "platform/text.h"
#include "platform/sim/wmi/wql.h"

namespace tarvex::sim {

namespace {

using platform::Utf8ToUtf16;

constexpr uint64_t kCylinderBytes = 255ull * 63 * 512;
constexpr const char16_t* kDiskClassGuid = u"{4D36E967-E325-11CE-BFC1-08002BE10318}";
constexpr const char16_t* kStorageControllerGuid = u"{4D36E96A-E325-11CE-BFC1-08002BE10318}";
constexpr const char16_t* kScsiAdapterGuid = u"{4D36E97B-E325-11CE-BFC1-08002BE10318}";

std::u16string U(const std::string& s) { return Utf8ToUtf16(s); }

bool PathStartsWith(const DiskProfile& d, std::u16string_view prefix) {
    return d.interfacePath.rfind(prefix, 0) == 0;
}

// "IDE\\DISKVARNO_TL30A...\\5&2C3B0A5F&0&0.0.0" -> "IDE\\DISKVARNO_TL30A..."
std::u16string HardwareIdOf(const std::u16string& pnpId) {
    const size_t second = pnpId.find(u'\\', pnpId.find(u'\\') + 1);
    return pnpId.substr(0, second);
}

// What Win32_DiskDrive says a disk hangs on: USB, or the kind of its controller (IDE for
// IDE and AHCI controllers, whatever its interface path looks like; SCSI for NVMe and RAID).
std::u16string InterfaceType(const MachineProfile& p, const DiskProfile& d) {
    if (d.kind == DiskKind::Usb) {
        return u"USB";
    }
    for (const ControllerProfile& c : *p.hardware.controllers) {
        if (std::find(c.disks.begin(), c.disks.end(), d.number) != c.disks.end()) {
            return c.wmiClass == ControllerClass::Ide ? u"IDE" : u"SCSI";
        }
    }
    return d.kind == DiskKind::Sata ? u"IDE" : u"SCSI";
}

std::u16string PhysicalDriveName(uint32_t number) { return U(fmt::format("\\\\.\\PHYSICALDRIVE{}", number)); }

std::u16string Hex8(uint32_t v) { return U(fmt::format("{:08X}", v)); }

}  // namespace

std::u16string DiskFriendlyName(const DiskProfile& d) {
    const std::u16string model = U(d.model);
    switch (d.kind) {
        case DiskKind::Usb: return model + u" USB Device";
        case DiskKind::Nvme: return u"NVMe " + model + u" SCSI Disk Device";
        case DiskKind::Sata: return PathStartsWith(d, u"\\\\?\\ide#") ? model : model + u" ATA Device";
    }
    return model;
}

uint64_t DiskDriveSize(const DiskProfile& d) { return d.capacitySectors * 512 / kCylinderBytes * kCylinderBytes; }

std::u16string ObjectPath(const std::u16string& host, std::u16string_view className, std::u16string_view key,
                          std::u16string_view value) {
    return u"\\\\" + host + u"\\ROOT\\CIMV2:" + std::u16string(className) + u"." + std::u16string(key) + u"=\"" +
           EscapeWqlString(value) + u"\"";
}

namespace {

void AddDisks(const MachineProfile& p, WmiCatalog* catalog) {
    WmiClassBuilder t(u"Win32_DiskDrive",
                      {u"BytesPerSector", u"Caption", u"Description", u"DeviceID", u"FirmwareRevision", u"Index",
                       u"InterfaceType", u"Manufacturer", u"MediaLoaded", u"MediaType", u"Model", u"Name",
                       u"Partitions", u"PNPDeviceID", u"SCSIBus", u"SCSILogicalUnit", u"SCSIPort", u"SCSITargetId",
                       u"SectorsPerTrack", u"SerialNumber", u"Size", u"Status", u"TotalCylinders", u"TotalHeads",
                       u"TotalSectors", u"TotalTracks", u"TracksPerCylinder"});
    for (const DiskProfile& d : p.disks) {
        uint32_t partitions = 0;
        for (const VolumeProfile& v : p.volumes) {
            if (v.kind == VolumeKind::Partition && v.disk == d.number) {
                partitions = std::max(partitions, v.partition);
            }
        }
        const uint64_t cylinders = d.capacitySectors * 512 / kCylinderBytes;
        t.Row()
            .I4(u"BytesPerSector", 512)
            .Bstr(u"Caption", DiskFriendlyName(d))
            .Bstr(u"Description", u"Disk drive")
            .Bstr(u"DeviceID", PhysicalDriveName(d.number))
            .Bstr(u"FirmwareRevision", U(d.firmware))
            .I4(u"Index", d.number)
            .Bstr(u"InterfaceType", InterfaceType(p, d))
            .Bstr(u"Manufacturer", u"(Standard disk drives)")
            .Bool(u"MediaLoaded", true)
            .Bstr(u"MediaType", d.kind == DiskKind::Usb ? u"Removable Media" : u"Fixed hard disk media")
            .Bstr(u"Model", DiskFriendlyName(d))
            .Bstr(u"Name", PhysicalDriveName(d.number))
            .I4(u"Partitions", partitions)
            .Bstr(u"PNPDeviceID", PnpDeviceId(d))
            .I4(u"SCSIBus", d.pathId)
            .I4(u"SCSILogicalUnit", d.lun)
            .I4(u"SCSIPort", d.port)
            .I4(u"SCSITargetId", d.targetId)
            .I4(u"SectorsPerTrack", 63)
            .Bstr(u"SerialNumber", U(d.serial))
            .Decimal(u"Size", DiskDriveSize(d))
            .Bstr(u"Status", u"OK")
            .Decimal(u"TotalCylinders", cylinders)
            .I4(u"TotalHeads", 255)
            .Decimal(u"TotalSectors", cylinders * 255 * 63)
            .Decimal(u"TotalTracks", cylinders * 255)
            .I4(u"TracksPerCylinder", 255);
    }
    catalog->Add(std::move(t));
}

void AddControllers(const MachineProfile& p, const std::u16string& host, WmiCatalog* catalog) {
    const std::vector<std::u16string> props{u"Caption", u"Description", u"DeviceID", u"Manufacturer", u"Name",
                                            u"PNPDeviceID", u"ProtocolSupported", u"Status"};
    WmiClassBuilder ide(u"Win32_IDEController", props);
    WmiClassBuilder scsi(u"Win32_SCSIController", props);
    WmiClassBuilder ideAssoc(u"Win32_IDEControllerDevice", {u"AccessState", u"Antecedent", u"Dependent", u"NegotiatedDataWidth"});
    WmiClassBuilder scsiAssoc(u"Win32_SCSIControllerDevice", {u"AccessState", u"Antecedent", u"Dependent", u"NegotiatedDataWidth"});
    for (const ControllerProfile& c : *p.hardware.controllers) {
        const bool isIde = c.wmiClass == ControllerClass::Ide;
        WmiClassBuilder& t = isIde ? ide : scsi;
        t.Row()
            .Bstr(u"Caption", c.name)
            .Bstr(u"Description", c.name)
            .Bstr(u"DeviceID", c.pnpDeviceId)
            .Bstr(u"Manufacturer", c.manufacturer)
            .Bstr(u"Name", c.name)
            .Bstr(u"PNPDeviceID", c.pnpDeviceId)
            .I4(u"ProtocolSupported", isIde ? 37 : 2)
            .Bstr(u"Status", u"OK");
        const std::u16string cls = isIde ? u"Win32_IDEController" : u"Win32_SCSIController";
        for (uint32_t number : c.disks) {
            auto disk = std::find_if(p.disks.begin(), p.disks.end(), [&](const DiskProfile& d) { return d.number == number; });
            (isIde ? ideAssoc : scsiAssoc)
                .Row()
                .Bstr(u"Antecedent", ObjectPath(host, cls, u"DeviceID", c.pnpDeviceId))
                .Bstr(u"Dependent", ObjectPath(host, u"Win32_PnPEntity", u"DeviceID", PnpDeviceId(*disk)));
        }
    }
    catalog->Add(std::move(ide));
    catalog->Add(std::move(scsi));
    catalog->Add(std::move(ideAssoc));
    catalog->Add(std::move(scsiAssoc));
}

void AddPnp(const MachineProfile& p, WmiCatalog* catalog) {
    WmiClassBuilder pnp(u"Win32_PnPEntity", {u"Caption", u"ClassGuid", u"CompatibleID", u"ConfigManagerErrorCode",
                                            u"Description", u"DeviceID", u"HardwareID", u"Manufacturer", u"Name",
                                            u"PNPDeviceID", u"Service", u"Status"});
    WmiClassBuilder drivers(u"Win32_PnPSignedDriver",
                            {u"DeviceClass", u"DeviceID", u"DeviceName", u"DriverDate", u"DriverProviderName",
                             u"DriverVersion", u"HardWareID", u"InfName", u"IsSigned", u"Manufacturer"});
    for (const ControllerProfile& c : *p.hardware.controllers) {
        const bool nvme = c.classCode == u"010802";
        const std::u16string service = nvme ? u"stornvme" : c.classCode.rfind(u"0106", 0) == 0 ? u"msahci" : u"pciide";
        pnp.Row()
            .Bstr(u"Caption", c.name)
            .Bstr(u"ClassGuid", c.wmiClass == ControllerClass::Ide ? kStorageControllerGuid : kScsiAdapterGuid)
            .I4(u"ConfigManagerErrorCode", 0)
            .Bstr(u"Description", c.name)
            .Bstr(u"DeviceID", c.pnpDeviceId)
            .Array(u"HardwareID", c.hardwareIds)
            .Bstr(u"Manufacturer", c.manufacturer)
            .Bstr(u"Name", c.name)
            .Bstr(u"PNPDeviceID", c.pnpDeviceId)
            .Bstr(u"Service", service)
            .Bstr(u"Status", u"OK");
        drivers.Row()
            .Bstr(u"DeviceClass", c.wmiClass == ControllerClass::Ide ? u"HDC" : u"SCSIADAPTER")
            .Bstr(u"DeviceID", c.pnpDeviceId)
            .Bstr(u"DeviceName", c.name)
            .Bstr(u"DriverDate", u"20100621000000.******+000")
            .Bstr(u"DriverProviderName", c.driverProvider)
            .Bstr(u"DriverVersion", c.driverVersion)
            .Bstr(u"HardWareID", c.hardwareIds.empty() ? c.pnpDeviceId : c.hardwareIds.front())
            .Bstr(u"InfName", nvme ? u"oem12.inf" : u"mshdc.inf")
            .Bool(u"IsSigned", true)
            .Bstr(u"Manufacturer", c.manufacturer);
    }
    for (const DiskProfile& d : p.disks) {
        const std::u16string id = PnpDeviceId(d);
        const std::u16string hw = HardwareIdOf(id);
        const std::u16string enumerator = hw.substr(0, hw.find(u'\\'));
        pnp.Row()
            .Bstr(u"Caption", DiskFriendlyName(d))
            .Bstr(u"ClassGuid", kDiskClassGuid)
            .Array(u"CompatibleID", {enumerator + u"\\Disk", u"GenDisk"})
            .I4(u"ConfigManagerErrorCode", 0)
            .Bstr(u"Description", u"Disk drive")
            .Bstr(u"DeviceID", id)
            .Array(u"HardwareID", {hw, u"GenDisk"})
            .Bstr(u"Manufacturer", u"(Standard disk drives)")
            .Bstr(u"Name", DiskFriendlyName(d))
            .Bstr(u"PNPDeviceID", id)
            .Bstr(u"Service", u"disk")
            .Bstr(u"Status", u"OK");
        drivers.Row()
            .Bstr(u"DeviceClass", u"DISKDRIVE")
            .Bstr(u"DeviceID", id)
            .Bstr(u"DeviceName", u"Disk drive")
            .Bstr(u"DriverDate", u"20060621000000.******+000")
            .Bstr(u"DriverProviderName", u"Microsoft")
            .Bstr(u"DriverVersion", u"6.1.7600.16385")
            .Bstr(u"HardWareID", hw)
            .Bstr(u"InfName", u"disk.inf")
            .Bool(u"IsSigned", true)
            .Bstr(u"Manufacturer", u"(Standard disk drives)");
    }
    catalog->Add(std::move(pnp));
    catalog->Add(std::move(drivers));
}

WmiClassBuilder LogicalDisks(const MachineProfile& p, VolumeListing& volumes) {
    WmiClassBuilder t(u"Win32_LogicalDisk", {u"Caption", u"Compressed", u"Description", u"DeviceID", u"DriveType",
                                             u"FileSystem", u"FreeSpace", u"MediaType", u"Name", u"Size",
                                             u"VolumeName", u"VolumeSerialNumber"});
    for (const VolumeProfile& v : volumes.List()) {
        const std::u16string id = std::u16string(1, v.letter) + u":";
        const uint32_t type = VolumeDriveType(v, p.disks);
        t.Row()
            .Bstr(u"Caption", id)
            .Bool(u"Compressed", false)
            .Bstr(u"Description", type == 3 ? u"Local Fixed Disk" : type == 2 ? u"Removable Disk" : u"CD-ROM Disc")
            .Bstr(u"DeviceID", id)
            .I4(u"DriveType", type)
            .Bstr(u"FileSystem", v.fileSystem)
            .Decimal(u"FreeSpace", volumes.FreeBytes(v.letter).value_or(0))
            .I4(u"MediaType", type == 3 ? 12 : 11)
            .Bstr(u"Name", id)
            .Decimal(u"Size", v.sizeBytes)
            .Bstr(u"VolumeName", v.label)
            .Bstr(u"VolumeSerialNumber", Hex8(v.serialNumber));
    }
    return t;
}

void AddSystem(const MachineProfile& p, const std::u16string& host, WmiCatalog* catalog) {
    const HardwareProfile& h = p.hardware;
    const char16_t drive = SystemDriveLetter(p);
    const std::u16string windows = std::u16string(1, drive) + u":\\Windows";

    WmiClassBuilder os(u"Win32_OperatingSystem",
                       {u"BuildNumber", u"Caption", u"CSDVersion", u"CSName", u"Manufacturer", u"Name",
                        u"OSArchitecture", u"OSLanguage", u"ProductType", u"ServicePackMajorVersion",
                        u"ServicePackMinorVersion", u"SystemDirectory", u"SystemDrive", u"TotalVisibleMemorySize",
                        u"Version", u"WindowsDirectory"});
    os.Row()
        .Bstr(u"BuildNumber", U(std::to_string(p.os.build)))
        .Bstr(u"Caption", h.osName.substr(0, h.osName.find(u'|')))
        .Bstr(u"CSName", host)
        .Bstr(u"Manufacturer", u"Microsoft Corporation")
        .Bstr(u"Name", h.osName)
        .Bstr(u"OSArchitecture", h.osArchitecture)
        .I4(u"OSLanguage", p.uiLanguage)
        .I4(u"ProductType", p.os.productType)
        .I4(u"ServicePackMajorVersion", p.os.servicePackMajor)
        .I4(u"ServicePackMinorVersion", p.os.servicePackMinor)
        .Bstr(u"SystemDirectory", windows + u"\\system32")
        .Bstr(u"SystemDrive", std::u16string(1, drive) + u":")
        .Decimal(u"TotalVisibleMemorySize", h.totalPhysicalMemory.value_or(0) / 1024)
        .Bstr(u"Version", U(fmt::format("{}.{}.{}", p.os.major, p.os.minor, p.os.build)))
        .Bstr(u"WindowsDirectory", windows);
    if (!p.os.servicePack.empty()) {
        os.Bstr(u"CSDVersion", p.os.servicePack);
    }
    catalog->Add(std::move(os));

    WmiClassBuilder cpu(u"Win32_Processor", {u"AddressWidth", u"Architecture", u"DataWidth", u"DeviceID",
                                             u"Manufacturer", u"MaxClockSpeed", u"Name", u"NumberOfCores",
                                             u"NumberOfLogicalProcessors", u"ProcessorId", u"SocketDesignation"});
    uint32_t logical = 0;
    for (size_t i = 0; i < h.processors.size(); ++i) {
        const ProcessorProfile& c = h.processors[i];
        logical += c.cores;
        cpu.Row()
            .I4(u"AddressWidth", c.addressWidth)
            .I4(u"Architecture", c.addressWidth == 64 ? 9 : 0)
            .I4(u"DataWidth", c.addressWidth)
            .Bstr(u"DeviceID", U(fmt::format("CPU{}", i)))
            .Bstr(u"Manufacturer", c.manufacturer)
            .I4(u"MaxClockSpeed", c.maxClockSpeed)
            .Bstr(u"Name", c.name)
            .I4(u"NumberOfCores", c.cores)
            .I4(u"NumberOfLogicalProcessors", c.cores)
            .Bstr(u"ProcessorId", u"BFEBFBFF000306C3")
            .Bstr(u"SocketDesignation", U(fmt::format("SOCKET {}", i)));
    }
    catalog->Add(std::move(cpu));

    WmiClassBuilder cs(u"Win32_ComputerSystem", {u"Domain", u"Manufacturer", u"Model", u"Name", u"NumberOfLogicalProcessors",
                                                 u"NumberOfProcessors", u"SystemType", u"TotalPhysicalMemory"});
    cs.Row()
        .Bstr(u"Domain", u"WORKGROUP")
        .Bstr(u"Manufacturer", h.systemManufacturer)
        .Bstr(u"Model", h.systemModel)
        .Bstr(u"Name", host)
        .I4(u"NumberOfLogicalProcessors", logical)
        .I4(u"NumberOfProcessors", static_cast<int64_t>(h.processors.size()))
        .Bstr(u"SystemType", h.processors.front().addressWidth == 64 ? u"x64-based PC" : u"X86-based PC")
        .Decimal(u"TotalPhysicalMemory", h.totalPhysicalMemory.value_or(0));
    catalog->Add(std::move(cs));

    WmiClassBuilder board(u"Win32_BaseBoard", {u"Manufacturer", u"Product", u"SerialNumber", u"Tag", u"Version"});
    board.Row()
        .Bstr(u"Manufacturer", h.boardManufacturer)
        .Bstr(u"Product", h.boardProduct)
        .Bstr(u"SerialNumber", u"MB-1234567890")
        .Bstr(u"Tag", u"Base Board")
        .Bstr(u"Version", u"Rev 1.xx");
    catalog->Add(std::move(board));

    WmiClassBuilder bios(u"Win32_BIOS", {u"Manufacturer", u"Name", u"ReleaseDate", u"SerialNumber",
                                         u"SMBIOSBIOSVersion", u"Version"});
    bios.Row()
        .Bstr(u"Manufacturer", h.biosManufacturer)
        .Bstr(u"Name", u"BIOS Date: 05/12/14 Ver: " + h.biosVersion)
        .Bstr(u"ReleaseDate", u"20140512000000.000000+000")
        .Bstr(u"SerialNumber", u"System Serial Number")
        .Bstr(u"SMBIOSBIOSVersion", h.biosVersion)
        .Bstr(u"Version", u"ALASKA - 1072009");
    catalog->Add(std::move(bios));

    WmiClassBuilder mem(u"Win32_PhysicalMemory", {u"BankLabel", u"Capacity", u"DataWidth", u"DeviceLocator",
                                                  u"FormFactor", u"Manufacturer", u"MemoryType", u"PartNumber",
                                                  u"Speed", u"Tag"});
    for (size_t i = 0; i < h.memory.size(); ++i) {
        const MemoryModuleProfile& m = h.memory[i];
        mem.Row()
            .Bstr(u"BankLabel", m.bankLabel)
            .Decimal(u"Capacity", m.capacity)
            .I4(u"DataWidth", 64)
            .Bstr(u"DeviceLocator", m.deviceLocator)
            .I4(u"FormFactor", 8)
            .Bstr(u"Manufacturer", m.manufacturer)
            .I4(u"MemoryType", m.memoryType)
            .Bstr(u"PartNumber", m.partNumber)
            .I4(u"Speed", m.speed)
            .Bstr(u"Tag", U(fmt::format("Physical Memory {}", i)));
    }
    catalog->Add(std::move(mem));
}

}  // namespace

void BuildWmiCatalog(const MachineProfile& p, VolumeListing& volumes, const std::u16string& host, WmiCatalog* catalog) {
    AddDisks(p, catalog);
    AddControllers(p, host, catalog);
    AddPnp(p, catalog);
    AddSystem(p, host, catalog);
    catalog->AddDynamic([&p, &volumes] { return LogicalDisks(p, volumes); });
}

}  // namespace tarvex::sim
