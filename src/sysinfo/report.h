#pragma once
// The support report: one text file describing the PC and every drive of the drive table.
// It is built once as a model (what the report says), which the text writer and the
// command line's --json both read.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/file_output.h"
#include "drives/physical_drive_info.h"
#include "sysinfo/system_info.h"

namespace tarvex {

struct ReportAttributeRow {
    uint8_t id = 0;
    uint8_t current = 0;
    uint8_t worst = 0;
    uint8_t threshold = 0;             // threshold entry at the same position
    std::array<uint8_t, 7> raw7 = {};  // the reserved byte, then the 6 raw bytes, most significant first
    std::array<uint8_t, 2> flags = {};
};

struct ReportDrive {
    int32_t diskChannel = 0;
    std::u16string model;
    uint32_t diskSizeGb = 0;  // low 32 bits of the refreshed capacity
    uint32_t maxLbaLow = 0;   // low 32 bits of IDENTIFY words 100..103
    std::array<uint16_t, 4> wwnWords = {};
    std::u16string serial;
    std::u16string firmware;
    std::u16string connectionSpeed;
    int32_t temperature = 0;
    std::array<uint16_t, 256> identifyWords = {};
    std::vector<ReportAttributeRow> attributes;
    std::array<uint8_t, 512> smartData = {};
    bool gpt = false;                    // byte 450 of the first sector is EEh
    std::vector<uint8_t> partitionBytes;  // 1024 for GPT, else 512
    std::u16string diskpart;
};

struct ReportModel {
    std::u16string version;
    std::u16string buildNumber;
    std::u16string osName;
    uint16_t language = 0;
    std::u16string cpuName;
    std::u16string totalMemoryMb;
    std::u16string boardVendor;
    std::u16string boardModel;
    std::u16string biosVersion;
    std::vector<HbaInfo> hbas;
    std::vector<MemoryModuleInfo> modules;
    std::vector<ReportDrive> drives;
};

// Refreshes the system information and reads every drive of the table (its first sectors
// and diskpart's answer) into the model.
ReportModel BuildReportModel();
// One drive's block from a copy of its record (also reads the disk and asks diskpart).
ReportDrive BuildReportDrive(const PhysicalDriveInfo& record);
// The report's text, "\n" line ends, UTF-8 (the emulated PC's ANSI code page).
std::string RenderReport(const ReportModel& model);
// Builds and writes the report to `path` (text mode: CR LF on disk); `model` (optional)
// receives what was written.
FileOutcome WriteReport(std::u16string_view path, ReportModel* model = nullptr);

}  // namespace tarvex
