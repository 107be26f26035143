#pragma once
// ATACommand owns every command the system sends to a drive: the ATA pass-through forms and
// the SMART receive-data fallback, the ATA command set, and the NVMe miniport commands. Each
// operation opens the drive, sends one request and closes it again; nothing is kept between
// calls, so the operations may run on any thread. Results are 1 for success and 0 for
// failure unless noted.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/os_version_info.h"
#include "drives/physical_drive_info.h"
#include "platform/ata_requests.h"
#include "platform/devices.h"
#include "platform/services.h"

namespace tarvex {

using platform::AtaTaskFile;

// Timeouts of the request forms, in seconds.
inline constexpr uint32_t kTimeoutByPath = 2;
inline constexpr uint32_t kTimeoutByNumber = 1000;
inline constexpr uint32_t kTimeoutDirect = 100;
inline constexpr uint32_t kMicrocodePieceSize = 32768;
inline constexpr uint16_t TemperatureUnavailable = 0xFFFF;

class ATACommand {
public:
    // Classifies the OS of the installed platform.
    ATACommand();

    OsVersionInfo osVersion;

    // Buffered ATA pass-through addressed by device path (timeout 2 s) or by drive number
    // (\\.\PhysicalDriveN, timeout 1000 s), with the registers of `taskFile` (for SMART, LBA
    // low takes the sector count). `flags` are ATA_FLAGS_*; a request without data carries
    // flags 0. Lengths above 32768 are refused without opening the drive, on every system. A
    // data-in request whose reply is shorter than `length` fails. `registersOut` (optional)
    // receives the registers the drive returned: the error in `features`, the status in
    // `command`; a completed call counts as success even when that status has ERR set.
    [[nodiscard]] int SendAtaCommandPhysicalDrive(std::u16string_view path, const AtaTaskFile& taskFile,
                                                  uint8_t* buffer, uint32_t length, uint16_t flags,
                                                  AtaTaskFile* registersOut = nullptr);
    [[nodiscard]] int SendAtaCommandPhysicalDrive(int driveNumber, const AtaTaskFile& taskFile, uint8_t* buffer,
                                                  uint32_t length, uint16_t flags,
                                                  AtaTaskFile* registersOut = nullptr);
    // The same by device path, with LBA low kept as given for SMART (the log address).
    [[nodiscard]] int SendAtaCommandPD(std::u16string_view path, const AtaTaskFile& taskFile, uint8_t* buffer,
                                       uint32_t length, uint16_t flags, AtaTaskFile* registersOut = nullptr);
    // Direct pass-through to \\.\PhysicalDriveN with a 16-byte-aligned data buffer. Fails also
    // when the drive reports ERR, and for data in when fewer bytes came back than asked.
    // `lengthInOut` gives the byte count and receives the count the driver reports.
    [[nodiscard]] int SendAtaCommandDirect(int driveNumber, uint8_t dataOut, const uint8_t* source,
                                           uint8_t* destination, uint32_t* lengthInOut,
                                           const AtaTaskFile& taskFile);
    // \\.\PhysicalDriveN opened for reading and writing; null when it cannot be opened.
    std::unique_ptr<platform::Device> OpenPhysicalDrive(int driveNumber);

    // IDENTIFY DEVICE by path into 512 bytes, with the SMART receive-data fallback.
    [[nodiscard]] int DoIdentify(std::u16string_view path, uint8_t device, uint8_t* buffer512);
    // SMART READ DATA into record.smartData, then the attribute parsing; 1 when at least one
    // attribute was found. By path, or by record.driveIndex.
    [[nodiscard]] int GetSmartAttributePd(std::u16string_view path, uint8_t device, PhysicalDriveInfo& record);
    // `pageRead` (optional) tells whether the page itself came back.
    [[nodiscard]] int GetSmartAttributePd(uint8_t device, PhysicalDriveInfo& record, bool* pageRead = nullptr);
    // SMART READ THRESHOLDS into record.smartThresholds, then the threshold pairing; 1 when
    // any threshold slot is in use.
    [[nodiscard]] int GetSmartThresholdPd(std::u16string_view path, uint8_t device, PhysicalDriveInfo& record);
    // SMART RETURN STATUS by path: 1 when the drive answered with one of the two signatures
    // in LBA mid / high (4Fh/C2h good, F4h/2Ch a threshold exceeded), `exceeded` then says
    // which. 0 when no pass-through answers, the drive reports ERR or the registers hold
    // anything else: the status is then not known.
    [[nodiscard]] int SmartReturnStatusPd(std::u16string_view path, uint8_t device, bool* exceeded);
    // The self-test execution status byte (byte 363 of SMART READ DATA) of a drive, in the low
    // byte; 0 when the page cannot be read, which `readOk` (optional) tells apart.
    [[nodiscard]] int GetSelfTestStatus(int driveNumber, bool* readOk = nullptr);
    // SMART EXECUTE OFF-LINE IMMEDIATE: 1 short, 2 extended self-test, 0x7F abort. Fails also
    // when the drive refuses the subcommand (ERR in the status it returns).
    [[nodiscard]] int DoSmartSelfTest(int driveNumber, uint8_t subcommand);
    [[nodiscard]] int SmartReadLogPd(std::u16string_view path, uint8_t device, uint8_t sectorCount,
                                     uint8_t logAddress, uint8_t* buffer512);
    [[nodiscard]] int SmartWriteLogPd(std::u16string_view path, uint8_t device, uint8_t sectorCount,
                                      uint8_t logAddress, uint8_t* buffer512);

    [[nodiscard]] int DoFlushCacheExt(int driveNumber, uint8_t device);
    [[nodiscard]] int SecuritySetPassword(int driveNumber, uint8_t* block512);
    [[nodiscard]] int SecurityErasePrepare(int driveNumber, uint8_t device);
    [[nodiscard]] int SecurityEraseUnit(int driveNumber, uint8_t* block512);
    [[nodiscard]] int StandbyImmediate(int driveNumber, uint8_t device);
    // DATA SET MANAGEMENT with the TRIM bit: `rangeBlock` of `length` bytes of 8-byte ranges.
    [[nodiscard]] int DataSetManagementTrim(int driveNumber, uint8_t* rangeBlock, uint32_t length);
    // DOWNLOAD MICROCODE of a whole file in 32768-byte pieces at growing block offsets.
    [[nodiscard]] int DownloadMicrocode(std::u16string_view firmwareFile, uint8_t device, std::u16string_view path,
                                        uint8_t mode, uint8_t blocksPerPiece);
    // The vendor statistics sequence of JMF608 drives: `sectorCount` sectors of the statistics
    // table into `destination`; returns its first 32-bit word (0 when the sequence fails).
    uint32_t GetVendorStatistics(int driveNumber, uint8_t sectorCount, uint8_t* destination);

    // The drive scan: appends one record per accepted drive, in listing order, and returns how
    // many it appended (the caller clears the table first).
    int UpdatePhysicalDrivesInfo(std::vector<PhysicalDriveInfo>& table);
    // Classifies, identifies and reads SMART for one listed drive; true when the record is
    // complete and belongs in the table.
    bool GetPhysicalDriveIdentifySmart(int position, std::u16string_view path, PhysicalDriveInfo& record);

    // Health figures from a drive record (no drive access; the record is a snapshot).
    // 1 no problem found, 2 caution, 3 an attribute below its threshold.
    int CheckDiskStatus(PhysicalDriveInfo record);
    // Degrees Celsius, or TemperatureUnavailable.
    uint16_t GetDriveTemperature(PhysicalDriveInfo record);
    // Percent of life left; 100 when the drive reports none.
    uint8_t GetRemainingLife(PhysicalDriveInfo record);
    // GiB written by the host; -1 when the drive reports none.
    int64_t GetTotalBytesWritten(PhysicalDriveInfo record);

    // The monitoring service's alert thresholds in the registry (SOFTWARE\VARNO\SSDVelmora).
    bool WriteTemperatureAlert(int value);
    bool WriteLifeAlert(int value);
    // -1 when the key or the value is missing. A stored life above 100 is rewritten as 100.
    int ReadTemperatureAlert();
    int ReadLifeAlert();
    // Enables SeRestorePrivilege in the process token; a failure is ignored.
    void EnableRestorePrivilege();

    // The product's registry helpers on HKEY_LOCAL_MACHINE\<subKey> (both enable
    // SeRestorePrivilege first). WriteVarnoRegistry creates the key when missing and stores
    // `dataSize` bytes of `data` as a value of `type`. ReadVarnoRegistry reads at most
    // `dataSize` bytes into `data`; when the key or the value is missing, or the value does
    // not fit, `data` keeps what the caller put there (its default). `type` names the type
    // the caller expects; the stored type is not checked, so a DWORD read into a QWORD
    // buffer fills its low half. Both return the Win32 status of the last registry call.
    uint32_t WriteVarnoRegistry(std::u16string_view subKey, std::u16string_view valueName, uint32_t dataSize,
                                uint32_t type, const void* data);
    uint32_t ReadVarnoRegistry(std::u16string_view subKey, std::u16string_view valueName, uint32_t dataSize,
                               uint32_t type, void* data);

    // The clean-up of what an interrupted TRIM run leaves behind: switches delete
    // notifications on and removes the "tmpxxxvarno" folder at the root of every NTFS volume
    // of every drive in PhysicalDriveTable.
    void DeleteTrimTempFolder();
    // Sets HKLM\SYSTEM\CurrentControlSet\Control\FileSystem "DisableDeleteNotification" to 0;
    // returns the Win32 status of the registry call (0: success).
    uint32_t SetDeleteNotificationRegistry();
    // Deletes the files of folder `path` (read-only ones too), with `recursive` its
    // subfolders as well, then the folder itself; a folder that keeps a subfolder (not
    // recursive) stays. 0 on success and when `path` does not exist, else the Win32 error.
    // A link to a folder (a reparse point) is removed as a link: what it points to is
    // never entered.
    uint32_t DeleteDirectory(std::u16string_view path, bool recursive);

    // The monitoring service through the service control manager. QueryServiceState fills
    // `status`; SetServiceRunning switches it on (auto start, started) or off (demand start,
    // stopped) and returns the result of the start or stop request.
    bool QueryServiceState(std::u16string_view serviceName, platform::ServiceStatus* status);
    bool SetServiceRunning(std::u16string_view serviceName, bool on);

    // NVMe through the miniport's "NvmeMini" interface on the drive's SCSI port. The port
    // name is empty unless the address query succeeded with a whole SCSI_ADDRESS. A command
    // fails also when its reply is short or its completion reports an error (status field of
    // the completion entry or the driver's ReturnCode non-zero); nothing is copied out then.
    bool GetScsiPortName(std::u16string_view devicePath, std::u16string* portName);
    bool IdentifyCommand_Controller(std::u16string_view devicePath, uint8_t* buffer4248);
    bool GetLogPageCommand_SMART_Health(std::u16string_view devicePath, uint8_t* log512);

    // The trace texts of one SMART page read: type 1, type 2 and the type-2 failure (or null).
    struct SmartTexts {
        const char* type1;
        const char* type2;
        const char* failure;
    };

private:
    struct DriveTarget {
        std::u16string_view path;
        int number;
        bool byNumber;
    };
    // A SMART data-in page: pass-through first where the system has it, then receive-data.
    bool ReadSmartPage(const DriveTarget& target, uint8_t feature, uint8_t device, uint8_t* page512,
                       const SmartTexts& texts);
    std::unique_ptr<platform::Device> OpenTarget(const DriveTarget& target);
    // Chooses the request form (buffered, or IDE where ATA pass-through is missing) and sends.
    int SendTaskFile(const DriveTarget& target, uint32_t timeout, const AtaTaskFile& taskFile, uint8_t* buffer,
                     uint32_t length, uint16_t flags, AtaTaskFile* registersOut);
    int SendBuffered(const DriveTarget& target, uint32_t timeout, const AtaTaskFile& taskFile, uint8_t* buffer,
                     uint32_t length, uint16_t flags, AtaTaskFile* registersOut);
    int SendIdePassThrough(const DriveTarget& target, const AtaTaskFile& taskFile, uint8_t* buffer, uint32_t length,
                           bool dataIn, AtaTaskFile* registersOut);
    // Whether the SMART and IDENTIFY operations try the pass-through before receive-data.
    static bool TriesPassThroughFirst();
    // A SMART_RCV_DRIVE_DATA request; true when it returned exactly 528 bytes.
    bool SendSmartReceive(platform::Device& device, const platform::IdeRegs& regs, uint8_t* data512);
    // One miniport request: kNvmeOk, or why it failed (the call itself, with the last error
    // set; a reply shorter than the request; a command the driver or the drive failed).
    enum NvmeResult { kNvmeOk, kNvmeCallFailed, kNvmeShortReply, kNvmeCommandFailed };
    int SendNvmeRequest(std::u16string_view devicePath, uint8_t* buffer, uint32_t size);
};

// The one ATACommand that lives for the whole run. Its classification decides whether the
// SMART operations try the pass-through first. Made at start-up once the platform is
// installed (InitGlobalAtaCommand); first use makes it if start-up did not. A new object
// from InitGlobalAtaCommand serves the later calls; the one it replaces stays valid, so a
// worker that took its reference before keeps working with it to its end.
ATACommand& GlobalAtaCommand();
void InitGlobalAtaCommand();

// Opens a drive, port or volume through the platform's devices; null (with the last error
// set) when it cannot be opened or the platform has no devices.
std::unique_ptr<platform::Device> OpenDevice(std::u16string_view path, uint32_t access, uint32_t shareMode,
                                             uint32_t flagsAndAttributes);

// Device paths of USB disks receive no commands.
bool IsUsbPath(std::u16string_view path);

}  // namespace tarvex
