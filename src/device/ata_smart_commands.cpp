// IDENTIFY DEVICE and the SMART commands: pass-through first where the system has it, then
// the disk driver's SMART receive-data interface.
#include <cstring>

#include "app/trace.h"
#include "device/ata_command.h"
#include "health/smart_attributes.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

using platform::IdeRegs;

namespace {

using platform::kAtaCmdIdentify;
using platform::kAtaCmdSmart;
using platform::kSmartExecuteOfflineImmediate;
using platform::kSmartLbaHigh;
using platform::kSmartLbaMid;
using platform::kSmartReadData;
using platform::kSmartReadLog;
using platform::kSmartReadThresholds;
using platform::kSmartReturnStatus;
using platform::kSmartWriteLog;

constexpr uint8_t kReadLogDevice = 0x40;
constexpr size_t kSelfTestStatusOffset = 363;

std::unique_ptr<platform::Device> Open(std::u16string_view path) {
    return OpenDevice(path, win::GENERIC_READ | win::GENERIC_WRITE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, 0);
}

IdeRegs SmartRegs(uint8_t feature, uint8_t count, uint8_t number, uint8_t device) {
    return IdeRegs{feature, count, number, kSmartLbaMid, kSmartLbaHigh, device, kAtaCmdSmart, 0};
}

// A SMART command's registers; the subcommand's parameter goes in the count (and LBA low).
AtaTaskFile SmartTaskFile(uint8_t feature, uint8_t count, uint8_t lbaLow, uint8_t device) {
    return AtaTaskFile{feature, count, lbaLow, kSmartLbaMid, kSmartLbaHigh, device, kAtaCmdSmart, 0};
}

void ClearAttributes(PhysicalDriveInfo& record) {
    std::memset(record.smartData, 0, sizeof record.smartData);
    std::memset(record.attributes, 0, sizeof record.attributes);
    record.attributeCount = 0;
}

}  // namespace

bool ATACommand::TriesPassThroughFirst() {
    // The command set decides between pass-through and receive-data by the classification of
    // the one ATACommand made at start-up, not by the object that happens to send; the
    // transport then picks its own request form from that object's classification.
    return GlobalAtaCommand().osVersion.PassThroughCapable;
}

bool ATACommand::SendSmartReceive(platform::Device& device, const IdeRegs& regs, uint8_t* data512) {
    platform::SendCmdInParams in{};
    in.cBufferSize = 512;
    in.irDriveRegs = regs;
    platform::SendCmdOutParams out{};
    uint32_t returned = 0;
    const bool ok = device.DeviceIoControl(
        platform::SMART_RCV_DRIVE_DATA, std::span(reinterpret_cast<const uint8_t*>(&in), sizeof in),
        std::span(reinterpret_cast<uint8_t*>(&out), sizeof out), &returned);
    if (!ok || returned != sizeof out) {
        return false;
    }
    if (data512 != nullptr) {
        std::memcpy(data512, out.bBuffer, 512);
    }
    return true;
}

int ATACommand::DoIdentify(std::u16string_view path, uint8_t device, uint8_t* buffer512) {
    Trace("ATACommand::DoIdentify(DevicePath%s)--entry", path);
    if (buffer512 == nullptr) {
        Trace("ATACommand::DoIdentify(DevicePath%s)--fail, no buffer\n", path);
        return 0;
    }
    std::memset(buffer512, 0, 512);
    if (IsUsbPath(path)) {
        return 0;
    }
    // The transport itself picks IDE pass-through where ATA pass-through is missing.
    if (!SendAtaCommandPhysicalDrive(path, AtaTaskFile{0, 0, 0, 0, 0, device, kAtaCmdIdentify, 0}, buffer512, 512,
                                     platform::ATA_FLAGS_DATA_IN)) {
        auto handle = Open(path);
        if (!handle) {
            Trace("ATACommand::DoIdentify--GetIoCtrlHandle fail");
            return 0;
        }
        Trace("SendAtaCommandPd - IDENTIFY_DEVICE");
        if (!SendSmartReceive(*handle, IdeRegs{0, 1, 1, 0, 0, device, kAtaCmdIdentify, 0}, buffer512)) {
            Trace("ATACommand::DoIdentify(DevicePath%s--SendAtaCommandPd - IDENTIFY_DEVICE fail", path);
            return 0;
        }
    }
    Trace("ATACommand::DoIdentify(DevicePath%s)--SUCCESS", path);
    return 1;
}

bool ATACommand::ReadSmartPage(const DriveTarget& target, uint8_t feature, uint8_t device, uint8_t* page512,
                               const SmartTexts& texts) {
    bool done = false;
    if (TriesPassThroughFirst()) {
        Trace("%s", texts.type1);
        const AtaTaskFile tf = SmartTaskFile(feature, 0, 0, device);
        done = (target.byNumber
                    ? SendAtaCommandPhysicalDrive(target.number, tf, page512, 512, platform::ATA_FLAGS_DATA_IN)
                    : SendAtaCommandPhysicalDrive(target.path, tf, page512, 512, platform::ATA_FLAGS_DATA_IN)) != 0;
    }
    if (done) {
        return true;
    }
    auto handle = OpenTarget(target);
    if (!handle) {
        return false;
    }
    Trace("%s", texts.type2);
    if (!SendSmartReceive(*handle, SmartRegs(feature, 1, 1, device), page512)) {
        if (texts.failure != nullptr) {
            Trace("%s", texts.failure);
        }
        return false;
    }
    return true;
}

namespace {
const ATACommand::SmartTexts kReadDataTexts{"GetSmartAttributePd-type1 - SMART_READ_DATA (ATA_PASS_THROUGH)",
                                            "GetSmartAttributePd-type2 - SMART_READ_DATA",
                                            "ATACommand::GetSmartAttributePd--DeviceIoControl fail"};
const ATACommand::SmartTexts kReadThresholdTexts{
    "SendAtaCommandPhysicalDrive - SMART_READ_THRESHOLDS (ATA_PASS_THROUGH)",
    "SendAtaCommandPhysicalDrive - SMART_READ_THRESHOLDS", nullptr};
}  // namespace

int ATACommand::GetSmartAttributePd(std::u16string_view path, uint8_t device, PhysicalDriveInfo& record) {
    Trace("Enter GetSmartAttributePd(%s, 0x%X)", path, device);
    ClearAttributes(record);
    if (IsUsbPath(path)) {
        return ParseSmartAttributes(record) ? 1 : 0;
    }
    if (!ReadSmartPage(DriveTarget{path, 0, false}, kSmartReadData, device, record.smartData, kReadDataTexts)) {
        return 0;
    }
    Trace("ATACommand::GetSmartAttributePd--Success");
    return ParseSmartAttributes(record) ? 1 : 0;
}

int ATACommand::GetSmartAttributePd(uint8_t device, PhysicalDriveInfo& record, bool* pageRead) {
    const int driveNumber = record.driveIndex;
    Trace("Enter GetSmartAttributePd(0x%X, 0x%X)", driveNumber, device);
    ClearAttributes(record);
    const bool read =
        ReadSmartPage(DriveTarget{{}, driveNumber, true}, kSmartReadData, device, record.smartData, kReadDataTexts);
    if (pageRead != nullptr) {
        *pageRead = read;
    }
    if (!read) {
        return 0;
    }
    Trace("ATACommand::GetSmartAttributePd--Success");
    return ParseSmartAttributes(record) ? 1 : 0;
}

int ATACommand::GetSmartThresholdPd(std::u16string_view path, uint8_t device, PhysicalDriveInfo& record) {
    std::memset(record.smartThresholds, 0, sizeof record.smartThresholds);
    if (IsUsbPath(path)) {
        return ParseSmartThresholds(record) ? 1 : 0;
    }
    if (!ReadSmartPage(DriveTarget{path, 0, false}, kSmartReadThresholds, device, record.smartThresholds,
                       kReadThresholdTexts)) {
        return 0;
    }
    return ParseSmartThresholds(record) ? 1 : 0;
}

int ATACommand::SmartReturnStatusPd(std::u16string_view path, uint8_t device, bool* exceeded) {
    Trace("Enter SmartReturnStatusPd(%s, 0x%X)", path, device);
    if (exceeded != nullptr) {
        *exceeded = false;
    }
    if (IsUsbPath(path)) {
        return 0;
    }
    // The answer is in the returned registers, which only the pass-through forms give back;
    // the receive-data interface has no way to report them.
    AtaTaskFile registers{};
    if (!SendAtaCommandPhysicalDrive(path, SmartTaskFile(kSmartReturnStatus, 0, 0, device), nullptr, 0, 0,
                                     &registers)) {
        Trace("ATACommand::SmartReturnStatusPd--no pass-through answered");
        return 0;
    }
    if ((registers.command & platform::kAtaStatusErr) != 0) {
        Trace("ATACommand::SmartReturnStatusPd--refused (status 0x%X, error 0x%X)", registers.command,
              registers.features);
        return 0;
    }
    const bool good = registers.lbaMid == kSmartLbaMid && registers.lbaHigh == kSmartLbaHigh;
    const bool bad =
        registers.lbaMid == platform::kSmartExceededLbaMid && registers.lbaHigh == platform::kSmartExceededLbaHigh;
    if (!good && !bad) {
        Trace("ATACommand::SmartReturnStatusPd--unknown answer (LBA mid 0x%X, high 0x%X)", registers.lbaMid,
              registers.lbaHigh);
        return 0;
    }
    if (exceeded != nullptr) {
        *exceeded = bad;
    }
    return 1;
}

int ATACommand::GetSelfTestStatus(int driveNumber, bool* readOk) {
    PhysicalDriveInfo scratch = EmptyDriveRecord();
    scratch.driveIndex = driveNumber;
    bool read = false;
    (void)GetSmartAttributePd(0, scratch, &read);
    if (readOk != nullptr) {
        *readOk = read;
    }
    return read ? scratch.smartData[kSelfTestStatusOffset] : 0;
}

int ATACommand::DoSmartSelfTest(int driveNumber, uint8_t subcommand) {
    if (TriesPassThroughFirst()) {
        Trace("SendAtaCommandPhysicalDrive - EXECUTE_OFFLINE_DIAGS");
        AtaTaskFile registers{};
        if (SendAtaCommandPhysicalDrive(driveNumber, SmartTaskFile(kSmartExecuteOfflineImmediate, subcommand,
                                                                   subcommand, 0),
                                        nullptr, 0, platform::ATA_FLAGS_DRDY_REQUIRED, &registers)) {
            // The call completed, so the drive has answered: ERR in its status means it refused
            // the subcommand, and asking again through receive-data would not change that.
            if ((registers.command & platform::kAtaStatusErr) != 0) {
                Trace("SendAtaCommandPhysicalDrive Fail- EXECUTE_OFFLINE_DIAGS (status 0x%X, error 0x%X)",
                      registers.command, registers.features);
                return 0;
            }
            return 1;
        }
    }
    auto handle = OpenPhysicalDrive(driveNumber);
    if (!handle) {
        Trace("ATACommand::DoSmartSelfTest--GetIoCtrlHandle fail\n");
        return 0;
    }
    if (!SendSmartReceive(*handle, SmartRegs(kSmartExecuteOfflineImmediate, 1, subcommand, 0), nullptr)) {
        Trace("SendAtaCommandPhysicalDrive Fail- EXECUTE_OFFLINE_DIAGS");
        return 0;
    }
    return 1;
}

int ATACommand::SmartReadLogPd(std::u16string_view path, uint8_t device, uint8_t sectorCount, uint8_t logAddress,
                               uint8_t* buffer512) {
    Trace("Enter SmartReadLogPd(%s, 0x%X)", path, device);
    if (buffer512 == nullptr) {
        return 0;
    }
    std::memset(buffer512, 0, 512);
    if (IsUsbPath(path)) {
        return 1;
    }
    bool done = false;
    if (TriesPassThroughFirst()) {
        Trace("SmartReadLogPd-type1 - SMART_READ_LOG (ATA_PASS_THROUGH)");
        done = SendAtaCommandPD(path, SmartTaskFile(kSmartReadLog, sectorCount, logAddress, kReadLogDevice), buffer512,
                                512, platform::ATA_FLAGS_DATA_IN) != 0;
    }
    if (!done) {
        auto handle = Open(path);
        if (!handle) {
            return 0;
        }
        Trace("SmartReadLogPd-type2 - SMART_READ_LOG");
        if (!SendSmartReceive(*handle, SmartRegs(kSmartReadLog, sectorCount, logAddress, device), buffer512)) {
            Trace("ATACommand::SmartReadLogPd--DeviceIoControl fail");
            return 0;
        }
    }
    Trace("ATACommand::SmartReadLogPd--Success");
    return 1;
}

int ATACommand::SmartWriteLogPd(std::u16string_view path, uint8_t device, uint8_t sectorCount, uint8_t logAddress,
                                uint8_t* buffer512) {
    // The buffer is what gets written: it is sent as the caller filled it.
    if (buffer512 == nullptr) {
        return 0;
    }
    if (IsUsbPath(path)) {
        return 1;
    }
    if (TriesPassThroughFirst()) {
        Trace("SmartWriteLogPd-type1 - SMART_WRITE_LOG (ATA_PASS_THROUGH)");
        if (!SendAtaCommandPD(path, SmartTaskFile(kSmartWriteLog, sectorCount, logAddress, device), buffer512, 512,
                              platform::ATA_FLAGS_DATA_OUT)) {
            Trace("ATACommand::SmartWriteLogPd--DeviceIoControl fail");
            return 0;
        }
        Trace("ATACommand::SmartWriteLogPd--Success");
        return 1;
    }
    // The receive-data interface cannot carry data to the drive, so without ATA pass-through
    // a log write cannot be done; it is reported as failed rather than as written.
    Trace("SmartWriteLogPd-type2 - SMART_WRITE_LOG");
    Trace("ATACommand::SmartWriteLogPd--DeviceIoControl fail");
    return 0;
}

}  // namespace tarvex
