#pragma once
// The DeviceIoControl requests of a storage stack, decoded once for every backend. Each is
// METHOD_BUFFERED: the input is copied into a system buffer of max(input, output) bytes (so
// input and output may be the same memory), the request is decoded from the copy through
// bounds-checked readers, the answer is written into the system buffer, and bytesReturned bytes
// of it go back to the output. A malformed request is refused (ERROR_INVALID_PARAMETER, or
// ERROR_INSUFFICIENT_BUFFER for an answer that does not fit) before anything reaches a drive.
//
// What a request asks of the drive travels as a neutral command record (AtaRequest,
// NvmeRequest) to the backend's executor, which hands it to its drive and says how it came
// back; the answer is then encoded here, so each backend only carries commands to its drives.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "platform/ata_requests.h"
#include "platform/byte_span.h"
#include "platform/devices.h"
#include "platform/win32_values.h"

namespace tarvex::platform {

// The data phase an ATA command has, as a driver that is not told (IDE pass-through) infers it.
[[nodiscard]] AtaData AtaCommandDirection(const AtaTaskFile& regs);

// The largest transfer one request takes.
inline constexpr uint32_t kMaxStorageTransfer = 0x20000;

// One DeviceIoControl call: the copy of the input, the system buffer, the caller's direct
// buffer, and the result being built.
class IoctlCall {
public:
    IoctlCall(std::span<const uint8_t> input, size_t outputSize, std::span<uint8_t> directData);

    [[nodiscard]] ByteReader In() const { return ByteReader(in_); }
    // The part of the system buffer that goes back to the caller: the output's size.
    [[nodiscard]] ByteWriter Out() { return ByteWriter(std::span(sys_).first(outSize_)); }
    [[nodiscard]] std::span<uint8_t> Direct() const { return direct_; }

    bool Fail(uint32_t e) {
        error = e;
        return false;
    }
    // Answers `value` at the start of the output; ERROR_INSUFFICIENT_BUFFER when it does not fit.
    template <typename T>
    bool Answer(const T& value) {
        if (!Out().WriteRecord(0, value)) {
            return Fail(win::ERROR_INSUFFICIENT_BUFFER);
        }
        returned = sizeof(T);
        return true;
    }

    // Ends the call: on success the first `returned` bytes of the system buffer (no more than
    // the output holds) go to `output`; on failure nothing does, `returned` becomes 0 and the
    // last error is set. `bytesReturned` (may be null) gets `returned`. Returns `ok`.
    bool Complete(bool ok, std::span<uint8_t> output, uint32_t* bytesReturned);

    uint32_t returned = 0;
    uint32_t error = 0;  // set by a failing decoder or executor

private:
    std::vector<uint8_t> in_;   // a copy of the input
    std::vector<uint8_t> sys_;  // the system buffer, starting as the input
    size_t outSize_ = 0;
    std::span<uint8_t> direct_;
};

// One ATA command as a request asks it.
struct AtaRequest {
    AtaTaskFile current;
    AtaTaskFile previous;             // the high bytes of a 48-bit command (pass-through only)
    std::optional<uint16_t> ataFlags;  // the pass-through's AtaFlags; none when the driver inferred the data phase
    AtaData direction = AtaData::None;
    std::span<uint8_t> data;      // the data-out bytes, or zeroed room for the data in
    uint32_t timeoutSeconds = 0;  // what the request asks for; 0 when it states none
};

// How an ATA command came back: the registers (status where the command was, error where the
// features were), or `error` when the call itself fails.
struct AtaCompletion {
    AtaTaskFile current;
    std::optional<AtaTaskFile> previous;  // the high bytes, when they came back
    uint32_t transferred = 0;             // data bytes moved (no more than the data phase holds)
    uint32_t error = 0;                   // non-zero: the call fails with this Win32 error
};

// One NVMe admin command of the "NvmeMini" miniport interface.
struct NvmeRequest {
    std::array<uint32_t, 16> command{};  // the submission queue entry
    std::span<uint8_t> data;             // zeroed room for the data the command returns
    uint32_t timeoutSeconds = 0;         // the SRB's timeout; 0 when it states none
};

struct NvmeCompletion {
    uint32_t dword0 = 0;  // command specific result
    uint16_t status = 0;  // the status field without the phase tag (SCT << 8 | SC, ...); 0 success
    uint32_t error = 0;   // non-zero: the call fails with this Win32 error
};

using AtaExecutor = std::function<AtaCompletion(const AtaRequest&)>;

// What a disk handle answers besides its ATA commands.
struct DiskAnswers {
    bool acceptsAta = false;  // false: the adapter refuses ATA requests (ERROR_INVALID_FUNCTION)
    ScsiAddress address{};
    uint32_t number = 0;              // the disk number
    uint32_t directAlignmentMask = 0;  // the adapter's alignment of a direct data buffer
};

// A request on a disk handle: the ATA pass-throughs, IDE pass-through, SMART receive-data, the
// SCSI address and the device number.
bool DiskControl(IoctlCall& c, uint32_t code, const DiskAnswers& disk, const AtaExecutor& run);

// Where a volume lies: its device number (none: the request is refused) and its one extent on
// a disk (none for a volume that is not a partition of a listed disk).
struct DiskExtent {
    uint32_t disk = 0;
    uint64_t offsetBytes = 0;
    uint64_t lengthBytes = 0;
};
struct VolumePlace {
    std::optional<StorageDeviceNumber> number;
    std::optional<DiskExtent> extent;
};
inline constexpr uint32_t kFileDeviceMassStorage = 0x2D;  // FILE_DEVICE_MASS_STORAGE

// A request on a volume handle: the device number and the disk extents.
bool VolumeControl(IoctlCall& c, uint32_t code, const VolumePlace& volume);

// The NVMe miniport behind a SCSI port.
class NvmeMiniport {
public:
    virtual ~NvmeMiniport() = default;
    // Called once a request names the "NvmeMini" pass-through: false when the port's miniport
    // does not know it (the inbox driver).
    virtual bool Claim() = 0;
    virtual NvmeCompletion Execute(const NvmeRequest& request) = 0;
};

// A request on a SCSI port handle: IOCTL_SCSI_MINIPORT with the NVMe pass-through.
bool PortControl(IoctlCall& c, uint32_t code, NvmeMiniport& miniport);

}  // namespace tarvex::platform
