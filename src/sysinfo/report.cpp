#include "sysinfo/report.h"

#include <algorithm>
#include <cstring>

#include <fmt/printf.h>

#include "app/build_info.h"
#include "app/ui_language.h"
#include "device/ata_command.h"
#include "device/identify_decoding.h"
#include "drives/drive_table.h"
#include "platform/byte_span.h"
#include "platform/text.h"
#include "sysinfo/diskpart.h"
#include "sysinfo/underlying_util.h"

namespace tarvex {

namespace {

constexpr uint32_t kPartitionReadBytes = 1024;
constexpr size_t kMbrTypeOfFirstEntry = 450;
constexpr uint8_t kGptProtectiveType = 0xEE;

const std::string kS60(60, '=');
const std::string kD60(60, '-');
const std::string kD83(83, '-');

std::string U8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

template <size_t N>
std::u16string Fixed(const char16_t (&field)[N]) {
    return std::u16string(platform::FixedText(field));
}

// The first 1024 bytes of the disk; zeros when it cannot be opened or read.
// The bytes the disk returned from its start (at most 1024); empty when it could not be read.
std::vector<uint8_t> ReadFirstSectors(int driveNumber) {
    std::vector<uint8_t> bytes(kPartitionReadBytes, 0);
    auto disk = GlobalAtaCommand().OpenPhysicalDrive(driveNumber);
    uint32_t got = 0;
    if (!disk || !disk->SetPosition(0) || !disk->Read(bytes.data(), kPartitionReadBytes, &got)) {
        got = 0;
    }
    bytes.resize(std::min<size_t>(got, kPartitionReadBytes));
    return bytes;
}

// The partition rows: the protective MBR and the GPT header when both sectors came back and
// the first entry is of type EEh, else the MBR; zeros when not even the MBR came back (a
// short read is not padded with zeros that would pass for the disk's).
void StorePartitionBytes(ReportDrive& d, const std::vector<uint8_t>& sectors) {
    const platform::ByteReader disk(sectors);
    d.gpt = disk.Has(0, 1024) && disk.U8(kMbrTypeOfFirstEntry) == kGptProtectiveType;
    const size_t shown = d.gpt ? 1024 : 512;
    d.partitionBytes.assign(shown, 0);
    if (const auto bytes = disk.Bytes(0, shown)) {
        std::copy(bytes->begin(), bytes->end(), d.partitionBytes.begin());
    }
}

// A hex dump in the rows of the SMART Read Data and partition sections.
void HexRows(std::string& out, const uint8_t* bytes, size_t rows) {
    out += "     0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F\n";
    for (size_t r = 0; r < rows; ++r) {
        const uint8_t* b = bytes + 16 * r;
        out += fmt::sprintf("%02X0 %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n",
                            static_cast<unsigned>(r), b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9],
                            b[10], b[11], b[12], b[13], b[14], b[15]);
    }
}

void RenderDrive(std::string& out, const ReportDrive& d) {
    out += kD83 + "\n";
    out += fmt::sprintf("Disk Channel: %d\n", d.diskChannel);
    out += fmt::sprintf("Model Name: %s\n", U8(d.model));
    out += fmt::sprintf("Disk Size: %d GB\n", static_cast<int32_t>(d.diskSizeGb));
    out += fmt::sprintf("Maximum LBA: %X", d.maxLbaLow);
    out += fmt::sprintf(" (%d)\n", static_cast<int32_t>(d.maxLbaLow));
    out += fmt::sprintf("World Wide Name: %04X%04X%04X%04X\n", d.wwnWords[0], d.wwnWords[1], d.wwnWords[2],
                        d.wwnWords[3]);
    out += fmt::sprintf("Serial Number: %s\n", U8(d.serial));
    out += fmt::sprintf("Firmware Revision: %s\n", U8(d.firmware));
    out += fmt::sprintf("Connection Speed: %s\n", U8(d.connectionSpeed));
    out += fmt::sprintf("Temperature: %d degree C\n", d.temperature);

    out += kD83 + "\n";
    out += "Drive Detail RAW data\n";
    out += "       0    1    2    3    4    5    6    7    8    9    A    B    C    D    E    F\n";
    for (int r = 0; r < 16; ++r) {
        const uint16_t* w = d.identifyWords.data() + 16 * r;
        out += fmt::sprintf(
            "%X0  %04X %04X %04X %04X %04X %04X %04X %04X %04X %04X %04X %04X %04X %04X %04X %04X\n", r, w[0], w[1],
            w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13], w[14], w[15]);
    }

    out += kD83 + "\n";
    out += "SMART Attributes\n";
    out += "ID Current Worst Threshold RAW_value      Flags\n";
    for (const ReportAttributeRow& a : d.attributes) {
        out += fmt::sprintf("%02X      %02X    %02X        %02X %02X%02X%02X%02X%02X%02X%02X %02X%02X\n", a.id,
                            a.current, a.worst, a.threshold, a.raw7[0], a.raw7[1], a.raw7[2], a.raw7[3], a.raw7[4],
                            a.raw7[5], a.raw7[6], a.flags[0], a.flags[1]);
    }

    out += kD83 + "\n";
    out += "SMART Read Data\n";
    HexRows(out, d.smartData.data(), 32);

    out += kD83 + "\n";
    out += d.gpt ? "GPT Table\n" : "MBR Table\n";
    HexRows(out, d.partitionBytes.data(), d.partitionBytes.size() / 16);

    out += kD83 + "\n";
    out += "diskpart -- detail disk\n";
    // diskpart ends its lines with CR LF already; written in text mode they would become
    // CR CR LF, so they are taken as plain line ends here.
    std::string answer = U8(d.diskpart);
    for (size_t at = answer.find("\r\n"); at != std::string::npos; at = answer.find("\r\n", at)) {
        answer.erase(at, 1);
    }
    out += answer;
}

}  // namespace

ReportDrive BuildReportDrive(const PhysicalDriveInfo& source) {
    PhysicalDriveInfo record = source;
    ReportDrive d;
    d.diskChannel = record.driveIndex;
    d.model = Fixed(record.modelNumber);
    UnderlyingUtil util;
    (void)util.GetPhysicalDriveSpace(platform::FixedText(record.devicePath), record);
    d.diskSizeGb = static_cast<uint32_t>(record.capacityGB);
    d.maxLbaLow = static_cast<uint32_t>(IdentifyWord(record.identify, 101)) << 16 | IdentifyWord(record.identify, 100);
    for (int i = 0; i < 4; ++i) {
        d.wwnWords[static_cast<size_t>(i)] = IdentifyWord(record.identify, 108 + i);
    }
    d.serial = Fixed(record.serialNumber);
    d.firmware = Fixed(record.firmwareRevision);
    d.connectionSpeed = LinkSpeedText(record);
    d.temperature = record.temperature;
    for (int w = 0; w < 256; ++w) {
        d.identifyWords[static_cast<size_t>(w)] = IdentifyWord(record.identify, w);
    }
    const uint32_t count = std::min<uint32_t>(record.attributeCount, kSmartSlotCount);
    for (uint32_t i = 0; i < count; ++i) {
        const SmartAttributeEntry& e = record.attributes[i];
        ReportAttributeRow row;
        row.id = e.id;
        row.current = e.current;
        row.worst = e.worst;
        row.threshold = record.thresholdEntries[i].threshold;
        row.raw7 = {e.reserved, e.raw[5], e.raw[4], e.raw[3], e.raw[2], e.raw[1], e.raw[0]};
        row.flags = {e.flags[0], e.flags[1]};
        d.attributes.push_back(row);
    }
    std::memcpy(d.smartData.data(), record.smartData, d.smartData.size());
    StorePartitionBytes(d, ReadFirstSectors(record.driveIndex));
    char16_t answer[kDiskpartAnswerChars + 1];
    GetDiskpartMsg(answer, record.driveIndex);
    d.diskpart = answer;
    return d;
}

ReportModel BuildReportModel() {
    UnderlyingUtil util;
    (void)util.GetSystemInfo();
    const SystemInfo& info = GlobalSystemInfo();
    ReportModel m;
    m.version = Fixed(info.ToolVersion);
    m.buildNumber = Fixed(BuildNumber);
    m.osName = Fixed(info.OsName);
    m.language = UserDefaultUILanguage();
    m.cpuName = Fixed(info.CpuName);
    m.totalMemoryMb = Fixed(info.TotalMemoryMb);
    m.boardVendor = Fixed(info.BaseBoardVendor);
    m.boardModel = Fixed(info.BaseBoardModel);
    m.biosVersion = Fixed(info.BiosVersion);
    m.hbas = info.HbaList;
    m.modules = info.MemoryModules;
    for (const PhysicalDriveInfo& record : PhysicalDriveTable()) {
        m.drives.push_back(BuildReportDrive(record));
    }
    return m;
}

std::string RenderReport(const ReportModel& m) {
    std::string out;
    out += fmt::sprintf("VARNO Velmora Version: %s\n", U8(m.version));
    out += fmt::sprintf("Build Number:%s\n", U8(m.buildNumber));
    out += kS60 + "\n";
    out += fmt::sprintf("OS: %s\n", U8(m.osName));
    out += fmt::sprintf("Language: 0x%04X\n", m.language);
    out += fmt::sprintf("CPU: %s\n", U8(m.cpuName));
    out += fmt::sprintf("Available RAM: %s MB\n", U8(m.totalMemoryMb));
    out += fmt::sprintf("MotherBoard Vendor: %s\n", U8(m.boardVendor));
    out += fmt::sprintf("MotherBoard: %s\n", U8(m.boardModel));
    out += fmt::sprintf("BIOS Version: %s\n", U8(m.biosVersion));
    out += kS60 + "\n\n";

    out += "HBA Information\n";
    out += fmt::sprintf("HBA Number: %d\n", static_cast<int>(m.hbas.size()));
    for (const HbaInfo& h : m.hbas) {
        out += kD60 + "\n";
        out += fmt::sprintf("HBA Name: %s\n", U8(platform::FixedText(h.Name)));
        out += fmt::sprintf("Driver Provider: %s\n", U8(platform::FixedText(h.DriverProvider)));
        out += fmt::sprintf("Attached Device Number: %d\n", h.AttachedDeviceCount);
        const int attached = std::clamp(h.AttachedDeviceCount, 0, kHbaDeviceSlots);
        for (int i = 0; i < attached; ++i) {
            out += fmt::sprintf("    Attached Device Name: %s\n", U8(platform::FixedText(h.AttachedDevices[i].Name)));
            out += fmt::sprintf("    Physical Drive Index: %d\n", h.AttachedDevices[i].PhysicalDriveIndex);
        }
    }
    out += kS60 + "\n\n";

    out += "DRAM Information\n";
    out += fmt::sprintf("DRAM Number: %d\n", static_cast<int>(m.modules.size()));
    for (const MemoryModuleInfo& d : m.modules) {
        out += kD60 + "\n";
        out += fmt::sprintf("Device Locator: %s\n", U8(platform::FixedText(d.DeviceLocator)));
        out += fmt::sprintf("Bank Label: %s\n", U8(platform::FixedText(d.BankLabel)));
        out += fmt::sprintf("Manufacturer: %s\n", U8(platform::FixedText(d.Manufacturer)));
        out += fmt::sprintf("Capacity: %s\n", U8(platform::FixedText(d.Capacity)));
        out += fmt::sprintf("Speed: %d\n", d.Speed);
    }
    out += kS60 + "\n\n";

    out += fmt::sprintf("There are %d disk drives attached.\n", static_cast<int>(m.drives.size()));
    for (const ReportDrive& d : m.drives) {
        RenderDrive(out, d);
    }
    out += kS60 + "\n";
    return out;
}

FileOutcome WriteReport(std::u16string_view path, ReportModel* model) {
    ReportModel built = BuildReportModel();
    FileOutcome outcome = ReplaceFileWithText(path, RenderReport(built));
    if (model != nullptr) {
        *model = std::move(built);
    }
    return outcome;
}

}  // namespace tarvex
