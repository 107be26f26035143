// The drive scan: every listed disk interface is matched to its Win32_DiskDrive row,
// classified by its controller, identified and its SMART data read once.
#include <cstring>

#include "app/trace.h"
#include "device/ata_command.h"
#include "device/identify_decoding.h"
#include "drives/drive_table.h"
#include "platform/byte_span.h"
#include "platform/text.h"
#include "sysinfo/wmi_rows.h"

namespace tarvex {

namespace {

constexpr uint8_t kScanIdentifyDevice = 0xA0;


bool PathContains(std::u16string_view path, std::u16string_view what) {
    return platform::FoldCase(path).find(what) != std::u16string::npos;
}

}  // namespace

int ATACommand::UpdatePhysicalDrivesInfo(std::vector<PhysicalDriveInfo>& table) {
    Trace("Enter %s()", "ATACommand::UpdatePhysicalDrivesInfo");
    UnderlyingUtil util;
    std::vector<std::u16string> paths;
    (void)util.ListDiskInterfaces(paths);
    (void)util.GetPhysicalDriveSpace();
    // The disk list's ids in lower case, folded once for all paths.
    std::vector<std::u16string> foldedIds;
    foldedIds.reserve(WmiDiskList().size());
    for (const WmiDiskEntry& disk : WmiDiskList()) {
        foldedIds.push_back(platform::FoldCase(platform::FixedText(disk.PNPDeviceID)));
    }
    int count = 0;
    for (size_t position = 0; position < paths.size(); ++position) {
        const std::u16string& path = paths[position];
        if (PathContains(path, u"usb")) {
            continue;
        }
        PhysicalDriveInfo record = EmptyDriveRecord();
        // A path the disk list has no row for gets no drive number: -1, never drive 0.
        record.driveIndex = -1;
        platform::CopyToFixed(record.devicePath, path);
        const std::u16string copy = HashToBackslash(path);
        bool matched = false;
        for (size_t d = 0; d < foldedIds.size(); ++d) {
            const WmiDiskEntry& disk = WmiDiskList()[d];
            const std::u16string& pnp = foldedIds[d];
            if (!pnp.empty() && copy.find(pnp) != std::u16string::npos) {
                // When several rows match, the last one wins.
                record.driveIndex = disk.Index;
                record.capacityGB = disk.sizeGB;
                matched = true;
            }
        }
        if (!matched) {
            Trace("UpdatePhysicalDrivesInfo::no Win32_DiskDrive row for %s", path);
        }
        if (GetPhysicalDriveIdentifySmart(static_cast<int>(position), path, record)) {
            table.push_back(record);
            ++count;
        }
    }
    Trace("UpdatePhysicalDrivesInfo::Physical Disk cnt: %d", count);
    Trace("Exit %s()", "ATACommand::UpdatePhysicalDrivesInfo");
    return count;
}

bool ATACommand::GetPhysicalDriveIdentifySmart(int /*position*/, std::u16string_view path, PhysicalDriveInfo& record) {
    const int n = record.driveIndex;
    UnderlyingUtil util;
    if (util.GetDiskMode(n) == u"010802") {
        record.interfaceKind = NvmeInterface;
        Trace("Disk %d is NVMe device.", n);
        std::vector<uint8_t> buffer(platform::kNvmeIdentifyBufferSize, 0);
        if (IdentifyCommand_Controller(path, buffer.data())) {
            if (const auto data = platform::ByteReader(buffer).Bytes(platform::kNvmeDataOffset,
                                                                       sizeof record.nvmeIdentify)) {
                std::memcpy(record.nvmeIdentify, data->data(), data->size());
            }
        }
        StoreNvmeIdentifyStrings(record);
        uint8_t log[512] = {};
        if (GetLogPageCommand_SMART_Health(path, log)) {
            std::memcpy(record.smartData, log, sizeof log);
        }
        return true;
    }
    if (PathContains(path, u"usb")) {
        record.interfaceKind = UsbInterface;
        Trace("Disk %d is mounted on USB interface.", n);
        return false;
    }
    if (PathContains(path, u"scsi")) {
        record.interfaceKind = ScsiInterface;
        Trace("Disk %d is mounted on SCSI interface.", n);
    } else if (PathContains(path, u"ide")) {
        record.interfaceKind = IdeSataInterface;
        Trace("Disk %d is mounted on IDE/SATA interface.", n);
    }
    uint8_t identify[512];
    if (!DoIdentify(path, kScanIdentifyDevice, identify)) {
        Trace("ATACommand::GetPhysicalDriveIdentifySmart(%d) fail.", n);
        return false;
    }
    StoreSataIdentify(record, identify);
    if (!GetSmartAttributePd(path, 0, record)) {
        Trace("ATACommand::GetSmartAttributePd(%d) fail.", n);
        return false;
    }
    (void)GetSmartThresholdPd(path, 0, record);
    return true;
}

}  // namespace tarvex
