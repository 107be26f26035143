#include "health/detail_rows.h"

#include <fmt/format.h>

#include <algorithm>

#include "app/string_table.h"
#include "device/identify_decoding.h"
#include "health/nvme_health_log.h"
#include "health/smart_names.h"
#include "platform/byte_span.h"

namespace tarvex {

namespace {

struct WordNameRange {
    int first;
    int last;
    const char16_t* name;
};

// The names of the IDENTIFY DEVICE words, by word range, covering 0..255 without gaps.
constexpr WordNameRange kIdentifyWordNames[] = {
    {0, 0, u"General configuration"},
    {1, 1, u"Obsolete"},
    {2, 2, u"Specific configuration"},
    {3, 3, u"Obsolete"},
    {4, 5, u"Retired"},
    {6, 6, u"Obsolete"},
    {7, 8, u"Reserved"},
    {9, 9, u"Retired"},
    {10, 19, u"Serial number (20 ASCII characters)"},
    {20, 21, u"Retired"},
    {22, 22, u"Obsolete"},
    {23, 26, u"Firmware revision (8 ASCII characters)"},
    {27, 46, u"Model number (40 ASCII characters)"},
    {47, 47, u"READ/WRITE MULTIPLE"},
    {48, 48, u"Trusted Computing feature set options"},
    {49, 50, u"Capabilities"},
    {51, 52, u"Obsolete"},
    {53, 53, u"Field Validaty"},
    {54, 58, u"Obsolete"},
    {59, 59, u"Multiple sector setting"},
    {60, 61, u"Total number of user addressable logical sectors"},
    {62, 62, u"Obsolete"},
    {63, 63, u"Multiword DMA transfer"},
    {64, 64, u"PIO modes supported"},
    {65, 65, u"Minimum Multiword DMA transfer cycle time per word (ns)"},
    {66, 66, u"Manufacturer\u00A1\u00A6s recommended Multiword DMA transfer cycle time (ns)"},
    {67, 67, u"Minimum PIO transfer cycle time without flow control (ns)"},
    {68, 68, u"Minimum PIO transfer cycle time with IORDY flow control (ns)"},
    {69, 69, u"Additional supported"},
    {70, 74, u"Reserved"},
    {75, 75, u"Queue depth"},
    {76, 76, u"Serial ATA capabilities"},
    {77, 77, u"Serial ATA additional capabilities"},
    {78, 78, u"Serial ATA features supported"},
    {79, 79, u"Serial ATA features enabled"},
    {80, 80, u"Major version number"},
    {81, 81, u"Minor version number"},
    {82, 84, u"Command set supported"},
    {85, 87, u"Command set enabled"},
    {88, 88, u"Ultra DMA modes"},
    {89, 89, u"Time required for security erase unit completion"},
    {90, 90, u"Time required for Enhanced security erase completion"},
    {91, 91, u"Current advanced power management value"},
    {92, 92, u"Master Password Identifier"},
    {93, 93, u"Hardware reset result"},
    {94, 94, u"Curren automatic acoustic management value"},
    {95, 95, u"Stream Minimum Request Size"},
    {96, 96, u"Streaming Transfer Time - DMA"},
    {97, 97, u"Streaming Access Latency - DMA and PIO"},
    {98, 99, u"Streaming Performance Granularity"},
    {100, 103, u"Total Number of User Addressable Sectors for the 48-bit Address feature set"},
    {104, 104, u"Streaming Transfer Time - PIO"},
    {105, 105, u"Maximum 512-byte blocks of LBA range entries per DATA SET MANAGEMENT command"},
    {106, 106, u"Physical sector size / Logical Sector Size"},
    {107, 107, u"Inter-seek delay for ISO-7779 acoustic testing in microseconds"},
    {108, 111, u"World Wild Name"},
    {112, 116, u"Reserved"},
    {117, 118, u"Logical Sector Size"},
    {119, 119, u"Command set supported"},
    {120, 120, u"Command set enabled"},
    {121, 126, u"Reserved for expanded supported and enabled settings"},
    {127, 127, u"Obsolete"},
    {128, 128, u"Security status"},
    {129, 159, u"Vendor specific"},
    {160, 160, u"CFA power mode 1"},
    {161, 167, u"Reserved for CFA"},
    {168, 168, u"Device Nominal Form Factor"},
    {169, 169, u"Data Set Management Support"},
    {170, 175, u"Reserved"},
    {176, 205, u"Current media serial number (60 ASCII characters)"},
    {206, 206, u"SCT Command Transport"},
    {207, 208, u"Reserved"},
    {209, 209, u"Alignment of logical blocks within a larger physical block"},
    {210, 211, u"Write-Read-Verify Sector Count Mode 3 Only"},
    {212, 213, u"Write-Read-Verify Sector Count Mode 2 Only"},
    {214, 214, u"NV Cache Capabilities"},
    {215, 215, u"NV Cache Size in Logical Blocks (LSW)"},
    {216, 216, u"NV Cache Size in Logical Blocks (MSW)"},
    {217, 217, u"NV Cache Read Transfer Speed in MB/s"},
    {218, 218, u"NV Cache Write Transfer Speed in MB/s"},
    {219, 219, u"NV Cache Options"},
    {220, 220, u"Write-Read-Verify feature set current mode"},
    {221, 221, u"Reserved"},
    {222, 222, u"Transport Major revision number"},
    {223, 223, u"Transport Minor revision number"},
    {224, 233, u"Reserved"},
    {234, 234, u"Minimum number of 512 byte units per DOWNLOAD MICROCODE command mode 3"},
    {235, 235, u"Maximum number of 512 byte units per DOWNLOAD MICROCODE command mode 3"},
    {236, 254, u"Reserved"},
    {255, 255, u"Integrity word"},
};

// The texts here are ASCII, so widening each byte is the conversion.
std::u16string Widen(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

DetailRow Row(std::initializer_list<std::u16string> cells) {
    return DetailRow{std::vector<std::u16string>(cells)};
}

std::u16string HexBlock(std::span<const uint8_t> bytes) {
    std::string s = "0x";
    for (uint8_t b : bytes) s += fmt::format("{:02X}", b);
    return Widen(s);
}

// The ASCII bytes of a text field up to its first NUL.
std::u16string TextField(std::span<const uint8_t> bytes) {
    std::u16string s;
    for (uint8_t b : bytes) {
        if (b == 0) break;
        s.push_back(static_cast<char16_t>(b));
    }
    return s;
}

std::u16string Hex2(uint32_t v) { return Widen(fmt::format("0x{:02X}", v)); }
std::u16string Hex4(uint32_t v) { return Widen(fmt::format("0x{:04X}", v)); }
std::u16string Hex16(uint32_t v) { return Widen(fmt::format("0x{:016X}", v)); }
std::u16string Dec(int64_t v) { return Widen(fmt::format("{}", v)); }

// Reads the Identify Controller data; the record's buffer is 4096 bytes, so every field is there.
class NvmeFields {
public:
    explicit NvmeFields(std::span<const uint8_t> data) : reader_(data) {}
    uint8_t U8(size_t at) const { return reader_.U8(at).value_or(0); }
    uint16_t U16(size_t at) const { return reader_.U16(at).value_or(0); }
    uint32_t U32(size_t at) const { return reader_.U32(at).value_or(0); }
    std::span<const uint8_t> Bytes(size_t at, size_t n) const {
        return reader_.Bytes(at, n).value_or(std::span<const uint8_t>());
    }

private:
    platform::ByteReader reader_;
};

void AddReservedBlocks(std::vector<DetailRow>& rows, const NvmeFields& f, const char* label,
                       size_t start, int count) {
    for (int k = 0; k < count; ++k) {
        const std::u16string item = Widen(fmt::format("{} ({}-{})", label, 16 * k, 16 * k + 15));
        rows.push_back(Row({item, HexBlock(f.Bytes(start + 16 * static_cast<size_t>(k), 16)), item}));
    }
}

std::string CounterHex(const NvmeHealthLog::Counter128& c) {
    if (c.high == 0) return fmt::format("0x{:X}", c.low);
    return fmt::format("0x{:X}{:016X}", c.high, c.low);
}

}  // namespace

std::u16string_view IdentifyWordNames(int word) {
    for (const WordNameRange& r : kIdentifyWordNames) {
        if (word >= r.first && word <= r.last) return r.name;
    }
    return {};
}

std::u16string ControllerKind(std::u16string_view classCode) {
    if (classCode == u"010601") return u"AHCI";
    if (classCode == u"010802") return u"NVMe";
    if (classCode.substr(0, 4) == u"0101") return u"IDE";
    return {};
}

std::u16string PopupHeaderText(int mode, const PhysicalDriveInfo& record,
                               std::span<const PopupController> controllers) {
    const std::u16string model(record.modelNumber,
                               std::find(std::begin(record.modelNumber),
                                         std::end(record.modelNumber), u'\0'));
    if (mode != kPopupDriveDetails) {
        return std::u16string(LoadResourceString(300)) + u" " + model;
    }
    std::u16string text = std::u16string(LoadResourceString(299)) + u" " + model + u"\n";
    const PopupController* hba = nullptr;
    for (const PopupController& c : controllers) {
        if (std::find(c.diskNumbers.begin(), c.diskNumbers.end(), record.driveIndex) !=
            c.diskNumbers.end()) {
            hba = &c;
        }
    }
    if (hba != nullptr) {
        text += u"HBA: " + hba->name + u" / " + ControllerKind(hba->classCode) + u"\n" +
                std::u16string(LoadResourceString(265)) + u" " + hba->driverVersion + u" (" +
                hba->driverProvider + u")";
    }
    return text;
}

std::vector<DetailColumn> PopupColumns(int mode, const PhysicalDriveInfo& record) {
    const bool nvme = record.interfaceKind == NvmeInterface;
    auto res = [](int id) { return std::u16string(LoadResourceString(id)); };
    if (mode == kPopupDriveDetails) {
        if (nvme) return {{res(321), 150}, {res(322), 290}, {res(323), 160}};
        return {{res(321), 80}, {res(322), 80}, {res(323), 440}};
    }
    if (nvme) return {{u"Value", 280}, {u"Description", 620}};
    return {{res(342), 40}, {res(343), 50}, {res(323), 150}, {res(344), 70},
            {res(345), 60}, {res(346), 80}, {res(347), 150}};
}

std::vector<DetailRow> AtaIdentifyRows(const PhysicalDriveInfo& record) {
    std::vector<DetailRow> rows;
    rows.reserve(256);
    for (int n = 0; n < 256; ++n) {
        rows.push_back(Row({Widen(fmt::format("Word {}", n)), Hex4(IdentifyWord(record.identify, n)),
                            std::u16string(IdentifyWordNames(n))}));
    }
    return rows;
}

std::vector<DetailRow> NvmeIdentifyRows(const PhysicalDriveInfo& record) {
    const NvmeFields f(record.nvmeIdentify);
    std::vector<DetailRow> rows;
    rows.reserve(502);
    rows.push_back(Row({u"VID", Hex4(f.U16(0)), u"PCI Vendor ID"}));
    rows.push_back(Row({u"SSVID", Hex4(f.U16(2)), u"PCI Subsystem Vendor ID"}));
    rows.push_back(Row({u"SN", TextField(f.Bytes(4, 20)), u"Serial Number"}));
    rows.push_back(Row({u"MN", TextField(f.Bytes(24, 40)), u"Model Number"}));
    rows.push_back(Row({u"FR", TextField(f.Bytes(64, 8)), u"Firmware Revision"}));
    rows.push_back(Row({u"RAB", Hex2(f.U8(72)), u"Recommended Arbitration Burst size"}));
    rows.push_back(Row({u"IEEE",
                        Widen(fmt::format("0x{:02X}{:02X}{:02X}{:02X}", f.U8(73), f.U8(74),
                                          f.U8(75), f.U8(76))),
                        u"IEEE OUI Identifier and Multi-Interface Capabilities"}));
    rows.push_back(Row({u"MDTS", Hex2(f.U8(77)), u"Maximum Data Transfer Size"}));
    AddReservedBlocks(rows, f, "Reserved 1", 78, 11);
    rows.push_back(Row({u"Reserved (176-177)", HexBlock(f.Bytes(254, 2)), u"Reserved (176-177)"}));
    rows.push_back(Row({u"Optional Admin Command Support", Hex4(f.U16(256)),
                        u"Bit 0: support Security Send and Security Receive commands. Bit 1: "
                        u"support controller supports the Format NVM command. Bit 2: supports "
                        u"the Firmware Activate and Firmware Download commands."}));
    rows.push_back(Row({u"ACL", Hex2(f.U8(258)), u"Abort Command Limit"}));
    rows.push_back(Row({u"UAERL", Hex2(f.U8(259)), u"Asynchronous Event Request Limit"}));
    rows.push_back(Row({u"Firmware Updates", Hex2(f.U8(260)),
                        u"Bit 0 if set to 1 indicates that the first firmware slot (slot 1) is "
                        u"Read Only. Bits 3:1 indicate the number of firmware slots that the "
                        u"device supports."}));
    rows.push_back(Row({u"Log Page Attributes", Hex2(f.U8(261)),
                        u"Bit 0 if set to 1 then the controller supports SMART Health "
                        u"Information Log Page"}));
    rows.push_back(Row({u"Error Log Page Entries", Hex2(f.U8(262)),
                        u"The number of Error Information log entries that are stored by the "
                        u"controller"}));
    rows.push_back(Row({u"Number of Power States Support", Hex2(f.U8(263)),
                        u"the number of NVMHCI power states supported by the controller"}));
    rows.push_back(Row({u"Admin Vendor Specific Command Configuration", Hex2(f.U8(264)),
                        u"Bit 0: The configuration settings for admin vendor specific command "
                        u"handling"}));
    AddReservedBlocks(rows, f, "Reserved 2", 265, 15);
    rows.push_back(Row({u"Reserved 2(240-247)", HexBlock(f.Bytes(505, 7)), u"Reserved 2(240-247)"}));
    rows.push_back(Row({u"Submission Queue Entry Size", Hex2(f.U8(512)),
                        u"Bits 3:0 define the required Submission Queue Entry size. Bits 7:4 "
                        u"define the maximum Submission Queue Entry size"}));
    rows.push_back(Row({u"Completion Queue Entry Size", Hex2(f.U8(513)),
                        u"Bits 3:0 define the required Completion Queue Entry size. Bits 7:4 "
                        u"define the maximum Completion Queue Entry size"}));
    rows.push_back(Row({u"RSVD3", HexBlock(f.Bytes(514, 2)), u"Reserved 3 (0-1)"}));
    rows.push_back(Row({u"Number of Namespaces", Hex16(f.U32(516)),
                        u"The number of valid namespaces present for the controller."}));
    rows.push_back(Row({u"Optional NVM Command Support", Hex4(f.U16(520)),
                        u"Bit 0: support the Compare command. Bit 1: support the Write "
                        u"Uncorrectable command. Bit 2: support the Dataset Management command."}));
    rows.push_back(Row({u"Fused Operation Support", Hex4(f.U16(522)),
                        u"Bit 0: support the Compare and Write fused operation."}));
    rows.push_back(Row({u"Format NVM Attributes", Hex2(f.U8(524)),
                        u"Bit 0 indicates whether the format operation applies to all namespaces "
                        u"or is specific to a particular namespace. Bit 1 indicates whether a "
                        u"secure erase applies to all namespaces or only to the one formatted. "
                        u"Bit 2 indicates whether cryptographic erase is supported as part of "
                        u"the secure erase."}));
    rows.push_back(Row({u"Volatile Write Cache", Hex2(f.U8(525)),
                        u"Bit 0 if set to 1 indicates that a volatile write cache is present."}));
    rows.push_back(Row({u"Atomic Write Unit Normal", Hex4(f.U16(526)),
                        u"This field indicates the atomic write size for the controller during "
                        u"normal operation."}));
    rows.push_back(Row({u"Atomic Write Unit Power Fail", Hex4(f.U16(528)),
                        u"This field indicates the atomic write size for the controller during a "
                        u"power fail condition."}));
    rows.push_back(Row({u"NVM Vendor Specific Command Configuration", Hex2(f.U8(530)),
                        u"This field indicates the configuration settings for NVM vendor "
                        u"specific command handling."}));
    AddReservedBlocks(rows, f, "Reserved 4", 531, 10);
    rows.push_back(Row({u"Reserved 4(160-173)", HexBlock(f.Bytes(691, 13)), u"Reserved 4(160-173)"}));
    AddReservedBlocks(rows, f, "Reserved 5", 704, 84);
    for (int d = 0; d < 32; ++d) {
        const size_t at = 2048 + 32 * static_cast<size_t>(d);
        const std::u16string item = Widen(fmt::format("Power State x Descriptor ({})", d));
        rows.push_back(Row({item, Hex4(f.U16(at)), u"Maximum Power"}));
        rows.push_back(Row({item, Hex4(f.U16(at + 2)), u"Reserved1"}));
        rows.push_back(Row({item, Hex16(f.U32(at + 4)), u"Entry Latency"}));
        rows.push_back(Row({item, Hex16(f.U32(at + 8)), u"Exit Latency"}));
        rows.push_back(Row({item, Hex2(f.U8(at + 12)), u"Relative Read Throughput"}));
        rows.push_back(Row({item, Hex2(f.U8(at + 13)), u"Relative Read Latency"}));
        rows.push_back(Row({item, Hex2(f.U8(at + 14)), u"Relative Write Throughput"}));
        rows.push_back(Row({item, Hex2(f.U8(at + 15)), u"Relative Write Latency"}));
        rows.push_back(Row({item, HexBlock(f.Bytes(at + 16, 16)), u"Reserved 6 (0-15)"}));
    }
    AddReservedBlocks(rows, f, "Vendor Specific", 3072, 64);
    return rows;
}

std::vector<DetailRow> AtaSmartRows(const PhysicalDriveInfo& record) {
    std::vector<DetailRow> rows;
    // A count past the slots the record holds would read outside the lists.
    const uint32_t count = std::min<uint32_t>(record.attributeCount, kSmartSlotCount);
    for (uint32_t i = 0; i < count; ++i) {
        const SmartAttributeEntry& e = record.attributes[i];
        rows.push_back(Row({Dec(e.id), Hex2(e.id),
                            std::u16string(LookupSmartAttributeName(record, e.id)), Dec(e.current),
                            Dec(e.worst), Dec(record.thresholdEntries[i].threshold),
                            Widen(fmt::format("0x{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}",
                                              e.reserved, e.raw[5], e.raw[4], e.raw[3], e.raw[2],
                                              e.raw[1], e.raw[0]))}));
    }
    return rows;
}

std::vector<DetailRow> NvmeHealthRows(const PhysicalDriveInfo& record) {
    const NvmeHealthLog log = DecodeNvmeHealthLog(record.smartData);
    const platform::ByteReader bytes{std::span<const uint8_t>(record.smartData)};
    auto block = [&](size_t at, size_t n) {
        return HexBlock(bytes.Bytes(at, n).value_or(std::span<const uint8_t>()));
    };
    static constexpr const char16_t* kWarnings[] = {
        u"If set to 1 then the available spare space has fallen below the threshold.",
        u"If set to 1 then the temperature has exceeded a critical threshold.",
        u"If set to 1 then the device reliability has been degraded.",
        u"If set to 1 then the media has been placed in read only mode.",
        u"If set to 1 then the volatile memory backup device has failed.",
    };
    static constexpr const char16_t* kCounters[] = {
        u"The number of 512 byte data units the host has read from the controller.",
        u"The number of 512 byte data units the host has written to the controller.",
        u"The number of read commands issued to the controller.",
        u"The number of write commands issued to the controller.",
        u"The amount of time the controller is busy with I/O commands.",
        u"The number of power cycles.",
        u"The number of power-on hours.",
        u"The number of unsafe shutdowns.",
        (u"The number of occurrences where the controller detected an unrecovered data "
         u"integrity error."),
        u"The number of Error Information log entries over the life of the controller.",
    };
    std::vector<DetailRow> rows;
    rows.reserve(42);
    for (int bit = 0; bit < 5; ++bit) {
        rows.push_back(Row({Widen(fmt::format("{:x}", (log.criticalWarning >> bit) & 1)),
                            kWarnings[bit]}));
    }
    rows.push_back(Row({Widen(fmt::format("{:x}", log.criticalWarning >> 5)), u"Reserved 3 bits."}));
    rows.push_back(Row({Dec(log.compositeTemperatureKelvin), u"Temperature"}));
    rows.push_back(Row({Dec(log.availableSpare),
                        u"Contains percentage (0 to 100%) of the remaining spare capacity "
                        u"available."}));
    rows.push_back(Row({Dec(log.availableSpareThreshold),
                        u"Threshold of the remaining spare capacity available."}));
    rows.push_back(Row({Dec(log.percentageUsed),
                        u"Vendor specific estimate of the percentage of device life used."}));
    rows.push_back(Row({block(6, 16), u"Reserved 1 (0-15)."}));
    rows.push_back(Row({block(22, 10), u"Reserved 1 (16-25."}));
    for (int i = 0; i < 10; ++i) {
        rows.push_back(Row({Widen(CounterHex(log.counters[i])), kCounters[i]}));
    }
    for (int k = 0; k < 20; ++k) {
        rows.push_back(Row({block(192 + 16 * static_cast<size_t>(k), 16),
                            Widen(fmt::format("Reserved 2 ({}-{}).", 16 * k, 16 * k + 15))}));
    }
    return rows;
}

std::vector<DetailRow> PopupRows(int mode, const PhysicalDriveInfo& record) {
    const bool nvme = record.interfaceKind == NvmeInterface;
    if (mode == kPopupDriveDetails) return nvme ? NvmeIdentifyRows(record) : AtaIdentifyRows(record);
    return nvme ? NvmeHealthRows(record) : AtaSmartRows(record);
}

}  // namespace tarvex
