// The real system calls behind IoctlSeam, and nothing else: every decision about what to send
// is made in the device layer above.
#include "platform/linux/ioctl_seam.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace tarvex::linuxhost {

namespace {

class KernelIoctlSeam : public IoctlSeam {
  public:
    int Open(const std::string& node, bool write, int* error) override {
        const int fd = ::open(node.c_str(), (write ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
        *error = fd < 0 ? errno : 0;
        return fd;
    }

    void Close(int fd) override { ::close(fd); }

    ScsiReply SgIo(int fd, const ScsiCommand& c) override {
        sg_io_hdr_t h{};
        h.interface_id = 'S';
        switch (c.direction) {
            case ScsiDataDirection::None: h.dxfer_direction = SG_DXFER_NONE; break;
            case ScsiDataDirection::ToDevice: h.dxfer_direction = SG_DXFER_TO_DEV; break;
            case ScsiDataDirection::FromDevice: h.dxfer_direction = SG_DXFER_FROM_DEV; break;
        }
        h.cmd_len = static_cast<unsigned char>(c.cdb.size());
        h.cmdp = const_cast<unsigned char*>(c.cdb.data());
        h.mx_sb_len = static_cast<unsigned char>(c.sense.size() > UCHAR_MAX ? UCHAR_MAX : c.sense.size());
        h.sbp = c.sense.data();
        h.dxfer_len = static_cast<unsigned int>(c.data.size());
        h.dxferp = c.data.empty() ? nullptr : c.data.data();
        h.timeout = c.timeoutMs;
        ScsiReply r;
        if (::ioctl(fd, SG_IO, &h) < 0) {
            r.error = errno;
            return r;
        }
        r.status = h.status;
        r.hostStatus = h.host_status;
        r.driverStatus = h.driver_status;
        r.senseLength = h.sb_len_wr;
        r.residual = h.resid;
        return r;
    }

    NvmeReply NvmeAdmin(int fd, const NvmeAdminCommand& c) override {
        nvme_admin_cmd cmd{};
        cmd.opcode = c.opcode;
        cmd.nsid = c.nsid;
        cmd.cdw2 = c.cdw2;
        cmd.cdw3 = c.cdw3;
        cmd.addr = reinterpret_cast<uintptr_t>(c.data.data());
        cmd.data_len = static_cast<__u32>(c.data.size());
        cmd.cdw10 = c.cdw10to15[0];
        cmd.cdw11 = c.cdw10to15[1];
        cmd.cdw12 = c.cdw10to15[2];
        cmd.cdw13 = c.cdw10to15[3];
        cmd.cdw14 = c.cdw10to15[4];
        cmd.cdw15 = c.cdw10to15[5];
        cmd.timeout_ms = c.timeoutMs;
        NvmeReply r;
        const int result = ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
        if (result < 0) {
            r.error = errno;
            return r;
        }
        r.status = static_cast<uint16_t>(result);
        r.result = cmd.result;
        return r;
    }

    int64_t PRead(int fd, std::span<uint8_t> buffer, uint64_t offset, int* error) override {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        *error = n < 0 ? errno : 0;
        return n;
    }

    bool HasCapability(Capability capability) override {
        const int bit = capability == Capability::SysRawio ? CAP_SYS_RAWIO : CAP_SYS_ADMIN;
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (::syscall(SYS_capget, &header, data) != 0) {
            return false;
        }
        return (data[bit / 32].effective & (1u << (bit % 32))) != 0;
    }
};

}  // namespace

std::unique_ptr<IoctlSeam> MakeKernelIoctlSeam() { return std::make_unique<KernelIoctlSeam>(); }

}  // namespace tarvex::linuxhost
