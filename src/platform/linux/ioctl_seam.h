#pragma once
// The few system calls the device layer makes on real device nodes: open, close, SG_IO, the
// NVMe admin command, pread, and the capability check. The device layer reaches the kernel only
// through this interface, so tests put a fake in its place and see every request it would send.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tarvex::linuxhost {

enum class Capability {
    SysRawio,  // CAP_SYS_RAWIO: SG_IO with ATA PASS-THROUGH
    SysAdmin,  // CAP_SYS_ADMIN: NVMe admin commands
};

enum class ScsiDataDirection { None, ToDevice, FromDevice };

// One SG_IO request.
struct ScsiCommand {
    std::span<const uint8_t> cdb;
    ScsiDataDirection direction = ScsiDataDirection::None;
    std::span<uint8_t> data;   // dxfer buffer and its length
    std::span<uint8_t> sense;  // room for the sense data
    uint32_t timeoutMs = 0;
};

struct ScsiReply {
    int error = 0;  // errno of an ioctl that failed; 0 when the command ran
    uint8_t status = 0;
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;
    uint8_t senseLength = 0;  // sense bytes written
    int32_t residual = 0;     // data bytes not moved
};

// One NVMe admin command (NVME_IOCTL_ADMIN_CMD).
struct NvmeAdminCommand {
    uint8_t opcode = 0;
    uint32_t nsid = 0;
    uint32_t cdw2 = 0;
    uint32_t cdw3 = 0;
    std::array<uint32_t, 6> cdw10to15{};
    std::span<uint8_t> data;  // the data buffer (device to host)
    uint32_t timeoutMs = 0;   // 0: the driver's default
};

struct NvmeReply {
    int error = 0;        // errno when the ioctl failed (a negative result)
    uint16_t status = 0;  // the NVMe status field of the completion (the ioctl's positive result)
    uint32_t result = 0;  // completion dword 0
};

class IoctlSeam {
  public:
    virtual ~IoctlSeam() = default;
    // open(2) of a device node for reading, or reading and writing: a descriptor, or -1 with the
    // errno in `error`.
    virtual int Open(const std::string& node, bool write, int* error) = 0;
    virtual void Close(int fd) = 0;
    virtual ScsiReply SgIo(int fd, const ScsiCommand& command) = 0;
    virtual NvmeReply NvmeAdmin(int fd, const NvmeAdminCommand& command) = 0;
    // pread(2): the bytes read, or -1 with the errno in `error`.
    virtual int64_t PRead(int fd, std::span<uint8_t> buffer, uint64_t offset, int* error) = 0;
    // True when the process holds `capability` in its effective set.
    virtual bool HasCapability(Capability capability) = 0;
};

// The seam over the real kernel.
std::unique_ptr<IoctlSeam> MakeKernelIoctlSeam();

}  // namespace tarvex::linuxhost
