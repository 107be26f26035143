#pragma once
// The request buffers that travel through Device::DeviceIoControl, in the 32-bit Windows
// layouts (the canonical wire format on every platform here). Both the system, which builds
// them, and the emulated storage stack, which decodes them, use these definitions.
#include <cstddef>
#include <cstdint>

namespace tarvex::platform {

// The seven ATA command registers in request order, then one reserved byte.
struct AtaTaskFile {
    uint8_t features = 0;
    uint8_t sectorCount = 0;
    uint8_t lbaLow = 0;
    uint8_t lbaMid = 0;
    uint8_t lbaHigh = 0;
    uint8_t device = 0;
    uint8_t command = 0;  // on return: the status register
    uint8_t reserved = 0;
};
static_assert(sizeof(AtaTaskFile) == 8);

// The data phase of an ATA command.
enum class AtaData { None, In, Out };

// After a command the drive's registers come back in the same positions: the error register
// where the features were and the status register where the command was.
inline constexpr uint8_t kAtaStatusErr = 0x01;
inline constexpr uint8_t kAtaStatusDrq = 0x08;
inline constexpr uint8_t kAtaStatusDsc = 0x10;
inline constexpr uint8_t kAtaStatusDrdy = 0x40;
inline constexpr uint8_t kAtaStatusBsy = 0x80;
inline constexpr uint8_t kAtaErrorAbrt = 0x04;

// ATA command codes (the command register) and the SMART feature codes (the features
// register of SMART, B0h), one definition for the system and the emulated drives.
inline constexpr uint8_t kAtaCmdDataSetManagement = 0x06;
inline constexpr uint8_t kAtaCmdDownloadMicrocode = 0x92;
inline constexpr uint8_t kAtaCmdSmart = 0xB0;
inline constexpr uint8_t kAtaCmdStandbyImmediate = 0xE0;
inline constexpr uint8_t kAtaCmdIdleImmediate = 0xE1;
inline constexpr uint8_t kAtaCmdCheckPowerMode = 0xE5;
inline constexpr uint8_t kAtaCmdFlushCache = 0xE7;
inline constexpr uint8_t kAtaCmdFlushCacheExt = 0xEA;
inline constexpr uint8_t kAtaCmdIdentify = 0xEC;
inline constexpr uint8_t kAtaCmdSetFeatures = 0xEF;
inline constexpr uint8_t kAtaCmdSecuritySetPassword = 0xF1;
inline constexpr uint8_t kAtaCmdSecurityUnlock = 0xF2;
inline constexpr uint8_t kAtaCmdSecurityErasePrepare = 0xF3;
inline constexpr uint8_t kAtaCmdSecurityEraseUnit = 0xF4;
inline constexpr uint8_t kAtaCmdSecurityFreezeLock = 0xF5;
inline constexpr uint8_t kAtaCmdSecurityDisablePassword = 0xF6;

inline constexpr uint8_t kSmartReadData = 0xD0;
inline constexpr uint8_t kSmartReadThresholds = 0xD1;
inline constexpr uint8_t kSmartAttributeAutosave = 0xD2;
inline constexpr uint8_t kSmartExecuteOfflineImmediate = 0xD4;
inline constexpr uint8_t kSmartReadLog = 0xD5;
inline constexpr uint8_t kSmartWriteLog = 0xD6;
inline constexpr uint8_t kSmartEnableOperations = 0xD8;
inline constexpr uint8_t kSmartDisableOperations = 0xD9;
inline constexpr uint8_t kSmartReturnStatus = 0xDA;
// Subcommands of EXECUTE OFF-LINE IMMEDIATE (in LBA low): off-line data collection, the short
// and extended self-tests in off-line mode, abort, and the two self-tests in captive mode.
inline constexpr uint8_t kSmartOfflineDataCollection = 0x00;
inline constexpr uint8_t kSmartShortSelfTest = 0x01;
inline constexpr uint8_t kSmartExtendedSelfTest = 0x02;
inline constexpr uint8_t kSmartAbortSelfTest = 0x7F;
inline constexpr uint8_t kSmartShortSelfTestCaptive = 0x81;
inline constexpr uint8_t kSmartExtendedSelfTestCaptive = 0x82;
// The signature SMART commands carry in LBA mid / high; RETURN STATUS answers F4h / 2Ch there
// when an attribute is at or below its threshold.
inline constexpr uint8_t kSmartLbaMid = 0x4F;
inline constexpr uint8_t kSmartLbaHigh = 0xC2;
inline constexpr uint8_t kSmartExceededLbaMid = 0xF4;
inline constexpr uint8_t kSmartExceededLbaHigh = 0x2C;
// SMART log addresses.
inline constexpr uint8_t kSmartLogDirectory = 0x00;
inline constexpr uint8_t kSmartLogSummaryError = 0x01;
inline constexpr uint8_t kSmartLogSelfTest = 0x06;
inline constexpr uint8_t kSmartLogSctCommand = 0xE0;
inline constexpr uint8_t kSmartLogSctData = 0xE1;

// AtaFlags of the pass-through header.
inline constexpr uint16_t ATA_FLAGS_DRDY_REQUIRED = 0x01;
inline constexpr uint16_t ATA_FLAGS_DATA_IN = 0x02;
inline constexpr uint16_t ATA_FLAGS_DATA_OUT = 0x04;
inline constexpr uint16_t ATA_FLAGS_48BIT_COMMAND = 0x08;
inline constexpr uint16_t ATA_FLAGS_USE_DMA = 0x10;

#pragma pack(push, 1)

// ATA_PASS_THROUGH_EX and ATA_PASS_THROUGH_DIRECT (32-bit): the same 40 bytes. In the direct
// form `DataBufferOffset` is the data buffer's address; here it holds its low 32 bits and the
// buffer itself travels beside the request.
struct AtaPassThroughEx {
    uint16_t Length;
    uint16_t AtaFlags;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t ReservedAsUchar;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uint32_t ReservedAsUlong;
    uint32_t DataBufferOffset;
    AtaTaskFile PreviousTaskFile;
    AtaTaskFile CurrentTaskFile;
};
static_assert(sizeof(AtaPassThroughEx) == 40);
static_assert(offsetof(AtaPassThroughEx, DataTransferLength) == 8);
static_assert(offsetof(AtaPassThroughEx, TimeOutValue) == 12);
static_assert(offsetof(AtaPassThroughEx, DataBufferOffset) == 20);
static_assert(offsetof(AtaPassThroughEx, PreviousTaskFile) == 24);
static_assert(offsetof(AtaPassThroughEx, CurrentTaskFile) == 32);

// The buffered request: the header, a 4-byte filler, then the data.
inline constexpr uint32_t kAtaPassThroughHeaderSize = 40;
inline constexpr uint32_t kAtaPassThroughDataOffset = 44;
inline constexpr uint32_t kAtaPassThroughMaxData = 32768;

// IDE_PASS_THROUGH: the task file, the data length, then the data.
struct IdePassThroughHeader {
    AtaTaskFile taskFile;
    uint32_t dataLength;
};
static_assert(sizeof(IdePassThroughHeader) == 12);

// IDEREGS of the SMART interface.
struct IdeRegs {
    uint8_t bFeaturesReg;
    uint8_t bSectorCountReg;
    uint8_t bSectorNumberReg;
    uint8_t bCylLowReg;
    uint8_t bCylHighReg;
    uint8_t bDriveHeadReg;
    uint8_t bCommandReg;
    uint8_t bReserved;
};
static_assert(sizeof(IdeRegs) == 8);

// SENDCMDINPARAMS: 32 bytes and the first byte of the (unused) buffer.
struct SendCmdInParams {
    uint32_t cBufferSize;
    IdeRegs irDriveRegs;
    uint8_t bDriveNumber;
    uint8_t bReserved[3];
    uint32_t dwReserved[4];
    uint8_t bBuffer[1];
};
static_assert(sizeof(SendCmdInParams) == 33);
static_assert(offsetof(SendCmdInParams, bDriveNumber) == 12);

struct DriverStatusBlock {
    uint8_t bDriverError;
    uint8_t bIDEError;
    uint8_t bReserved[2];
    uint32_t dwReserved[2];
};
static_assert(sizeof(DriverStatusBlock) == 12);

// SENDCMDOUTPARAMS with its 512 data bytes.
struct SendCmdOutParams {
    uint32_t cBufferSize;
    DriverStatusBlock DriverStatus;
    uint8_t bBuffer[512];
};
static_assert(sizeof(SendCmdOutParams) == 528);
static_assert(offsetof(SendCmdOutParams, bBuffer) == 16);

// SCSI_ADDRESS, the answer of IOCTL_SCSI_GET_ADDRESS.
struct ScsiAddress {
    uint32_t Length;
    uint8_t PortNumber;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
};
static_assert(sizeof(ScsiAddress) == 8);

// SRB_IO_CONTROL, the header of IOCTL_SCSI_MINIPORT requests.
struct SrbIoControl {
    uint32_t HeaderLength;
    uint8_t Signature[8];
    uint32_t Timeout;
    uint32_t ControlCode;
    uint32_t ReturnCode;
    uint32_t Length;
};
static_assert(sizeof(SrbIoControl) == 28);

// The NVMe pass-through request of miniports that answer the "NvmeMini" signature.
struct NvmePassThroughHeader {
    SrbIoControl SrbIoCtrl;
    uint32_t VendorSpecific[6];
    uint32_t NVMeCmd[16];  // submission queue entry: CDW0, NSID at [1], CDW10 at [10]
    uint32_t CplEntry[4];  // completion queue entry, returned
    uint32_t Direction;    // 2: device to host
    uint32_t QueueId;      // 0: admin queue
    uint32_t DataBufferLen;
    uint32_t MetaDataLen;
    uint32_t ReturnBufferLen;
};
static_assert(sizeof(NvmePassThroughHeader) == 152);
static_assert(offsetof(NvmePassThroughHeader, NVMeCmd) == 52);
static_assert(offsetof(NvmePassThroughHeader, CplEntry) == 116);
static_assert(offsetof(NvmePassThroughHeader, Direction) == 132);
static_assert(offsetof(NvmePassThroughHeader, ReturnBufferLen) == 148);

// STORAGE_DEVICE_NUMBER, the answer of IOCTL_STORAGE_GET_DEVICE_NUMBER.
struct StorageDeviceNumber {
    uint32_t DeviceType;  // 7: FILE_DEVICE_DISK
    uint32_t DeviceNumber;
    uint32_t PartitionNumber;
};
static_assert(sizeof(StorageDeviceNumber) == 12);

#pragma pack(pop)

inline constexpr char kNvmeMiniSignature[8] = {'N', 'v', 'm', 'e', 'M', 'i', 'n', 'i'};
inline constexpr uint32_t kNvmePassThroughControlCode = 0xE0002000;
inline constexpr uint32_t kNvmeDataOffset = 152;
inline constexpr uint32_t kNvmeIdentifyBufferSize = 4248;  // 152 + 4096
inline constexpr uint32_t kNvmeLogBufferSize = 664;        // 152 + 512
inline constexpr uint32_t kNvmeDirectionDeviceToHost = 2;
inline constexpr uint8_t kNvmeAdminGetLogPage = 0x02;
inline constexpr uint8_t kNvmeAdminIdentify = 0x06;

inline constexpr uint32_t FILE_DEVICE_DISK = 7;
inline constexpr uint32_t FILE_DEVICE_CD_ROM = 2;

// The vendor statistics sequence of JMF608 drives (three direct requests, see
// docs/vendor-statistics.md): the vendor mode entry (SET FEATURES with a vendor subcommand
// and key), the table request (command 88h) and the table read (command 86h).
inline constexpr uint8_t kVendorModeFeature = 0xE5;
inline constexpr uint8_t kVendorModeKey = 0x3C;
inline constexpr uint8_t kVendorTableRequestCommand = 0x88;
inline constexpr uint8_t kVendorTableReadCommand = 0x86;
// LBA low, mid, high of the table request ("JM8") and of the table read ("JM6").
inline constexpr uint8_t kVendorRequestLba[3] = {0x4A, 0x4D, 0x38};
inline constexpr uint8_t kVendorReadLba[3] = {0x4A, 0x4D, 0x36};
// Bytes 0..2 of the table request's data block ("STQ"); bytes 4..7 hold the table address
// in big-endian order.
inline constexpr uint8_t kVendorRequestSignature[3] = {0x53, 0x54, 0x51};
inline constexpr uint32_t kVendorStatisticsTableAddress = 0x00022C00;
// Where the statistics buckets start in the table (512 B, 4 KB, 32 KB, 64 KB commands); each
// holds three (write, read) pairs of 32-bit little-endian counters.
inline constexpr uint32_t kVendorStatisticsBucketOffsets[4] = {28, 196, 1540, 3076};

}  // namespace tarvex::platform
