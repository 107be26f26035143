// The Linux device layer over a fake ioctl seam: what reaches the kernel for each request, what
// comes back in the Windows buffers, and what is refused before anything is sent.
#include "platform/linux/linux_devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "platform/last_error.h"
#include "platform/sim/devices/storage_stack.h"
#include "platform/win32_values.h"

namespace tarvex::linuxhost {
namespace {

using platform::AtaPassThroughEx;
using platform::AtaTaskFile;

struct FakeSeam : IoctlSeam {
    struct SentScsi {
        std::vector<uint8_t> cdb;
        ScsiDataDirection direction;
        std::vector<uint8_t> data;  // as handed over (the data-out bytes)
        uint32_t timeoutMs;
    };
    struct SentNvme {
        NvmeAdminCommand command;
        size_t dataLength;
    };
    std::vector<std::pair<std::string, bool>> opens;
    std::vector<int> closed;
    std::map<std::string, int> openErrors;
    std::vector<SentScsi> scsi;
    std::vector<SentNvme> nvme;
    ScsiReply scsiReply;
    std::vector<uint8_t> sense;
    std::vector<uint8_t> dataIn;  // what the drive sends back
    NvmeReply nvmeReply;
    std::vector<uint8_t> disk;  // the bytes pread returns
    size_t preadChunk = 1u << 20;
    bool rawio = true;
    bool admin = true;
    int nextFd = 10;

    int Open(const std::string& node, bool write, int* error) override {
        opens.emplace_back(node, write);
        if (auto it = openErrors.find(node); it != openErrors.end()) {
            *error = it->second;
            return -1;
        }
        return nextFd++;
    }
    void Close(int fd) override { closed.push_back(fd); }
    ScsiReply SgIo(int, const ScsiCommand& c) override {
        scsi.push_back({{c.cdb.begin(), c.cdb.end()}, c.direction, {c.data.begin(), c.data.end()}, c.timeoutMs});
        if (c.direction == ScsiDataDirection::FromDevice) {
            std::copy_n(dataIn.begin(), std::min(dataIn.size(), c.data.size()), c.data.begin());
        }
        ScsiReply r = scsiReply;
        const size_t n = std::min(sense.size(), c.sense.size());
        std::copy_n(sense.begin(), n, c.sense.begin());
        r.senseLength = static_cast<uint8_t>(r.error == 0 ? n : 0);
        return r;
    }
    NvmeReply NvmeAdmin(int, const NvmeAdminCommand& c) override {
        nvme.push_back({c, c.data.size()});
        std::copy_n(dataIn.begin(), std::min(dataIn.size(), c.data.size()), c.data.begin());
        return nvmeReply;
    }
    int64_t PRead(int, std::span<uint8_t> buffer, uint64_t offset, int*) override {
        if (offset >= disk.size()) {
            return 0;
        }
        const size_t n = std::min({buffer.size(), disk.size() - static_cast<size_t>(offset), preadChunk});
        std::copy_n(disk.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
        return static_cast<int64_t>(n);
    }
    bool HasCapability(Capability c) override { return c == Capability::SysRawio ? rawio : admin; }
};

HostDisk Disk(uint32_t number, std::string node, HostDiskKind kind, uint8_t port, std::u16string path) {
    HostDisk d;
    d.number = number;
    d.blockNode = std::move(node);
    d.kind = kind;
    d.port = port;
    d.interfacePath = std::move(path);
    return d;
}

HostInventory TestInventory() {
    HostInventory inv;
    inv.disks = {
        Disk(0, "/dev/sda", HostDiskKind::Sata, 1,
             u"\\\\?\\ide#diskssd_one#5&1&0&0.3.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"),
        Disk(1, "/dev/nvme0n1", HostDiskKind::Nvme, 4, u"\\\\?\\scsi#disk&ven_nvme&prod_x#4&2&0&000000#{53f56307}"),
        Disk(2, "/dev/sdb", HostDiskKind::Usb, 2, u"\\\\?\\usbstor#disk&ven_a&prod_b&rev_1#s&0#{53f56307}")};
    inv.disks[0].targetId = 3;
    inv.disks[1].nvmeControllerNode = "/dev/nvme0";
    inv.disks[1].nvmeNamespaceId = 1;
    HostVolume c;
    c.disk = 0;
    c.partition = 2;
    c.offsetBytes = 0x100000;
    c.partitionBytes = 0x40000000;
    c.sizeBytes = 0x3F000000;
    HostVolume d = c;
    d.letter = u'D';
    d.disk = 2;
    d.partition = 1;
    inv.volumes = {c, d};
    return inv;
}

constexpr uint32_t kReadWrite = win::GENERIC_READ | win::GENERIC_WRITE;
const std::vector<uint8_t> kGoodSense = {0x72, 0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x0E, 0x09, 0x0C, 0x00,
                                         0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0x50};

class LinuxDevicesTest : public ::testing::Test {
  protected:
    void SetUp() override { seam.sense = kGoodSense; }
    std::unique_ptr<LinuxDevices> Make(bool allowWrites) {
        return std::make_unique<LinuxDevices>(TestInventory(), seam, allowWrites, [this] {
            ++rereads;
            return reread;
        });
    }
    std::unique_ptr<platform::Device> Open(LinuxDevices& d, std::u16string_view path, uint32_t access = kReadWrite) {
        return d.CreateFile(path, access, 3, win::OPEN_EXISTING, 0);
    }
    // A buffered ATA pass-through request: the header, the filler, then `length` data bytes.
    static std::vector<uint8_t> Buffered(AtaTaskFile tf, uint16_t flags, uint32_t length, uint32_t timeout = 2) {
        std::vector<uint8_t> r(platform::kAtaPassThroughDataOffset + length, 0);
        AtaPassThroughEx h{};
        h.Length = platform::kAtaPassThroughHeaderSize;
        h.AtaFlags = flags;
        h.DataTransferLength = length;
        h.TimeOutValue = timeout;
        h.DataBufferOffset = platform::kAtaPassThroughDataOffset;
        h.CurrentTaskFile = tf;
        std::memcpy(r.data(), &h, sizeof h);
        return r;
    }
    static AtaPassThroughEx HeaderOf(const std::vector<uint8_t>& r) {
        AtaPassThroughEx h;
        std::memcpy(&h, r.data(), sizeof h);
        return h;
    }
    bool Send(platform::Device& dev, uint32_t code, std::vector<uint8_t>& io, uint32_t* returned = nullptr) {
        uint32_t n = 0xFFFF;
        const bool ok = dev.DeviceIoControl(code, io, io, &n);
        if (returned != nullptr) {
            *returned = n;
        }
        return ok;
    }

    FakeSeam seam;
    HostInventory reread;
    int rereads = 0;
};

const AtaTaskFile kReadData{0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0, 0};
const AtaTaskFile kEraseUnit{0, 0, 0, 0, 0, 0, 0xF4, 0};

TEST_F(LinuxDevicesTest, OpensEveryKindOfNameAndMapsOpenFailures) {
    auto d = Make(false);
    {
        auto byNumber = Open(*d, u"\\\\.\\PhysicalDrive0");
        ASSERT_TRUE(byNumber);
        auto byPath =
            Open(*d, u"\\\\?\\IDE#DiskSSD_ONE#5&1&0&0.3.0#{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}", win::GENERIC_READ);
        ASSERT_TRUE(byPath);
        ASSERT_TRUE(Open(*d, u"\\\\.\\SCSI4:"));
        ASSERT_TRUE(Open(*d, u"\\\\.\\SCSI1:")) << "a port of SATA disks opens, with nothing behind it";
        ASSERT_TRUE(Open(*d, u"\\\\.\\c:"));
        ASSERT_TRUE(Open(*d, u"\\\\.\\PhysicalDrive1", 0)) << "a query-only handle";
    }
    const std::vector<std::pair<std::string, bool>> opened = {
        {"/dev/sda", true}, {"/dev/sda", false}, {"/dev/nvme0", true}};
    EXPECT_EQ(seam.opens, opened) << "ports of SATA disks, volumes and query-only handles open no node";
    EXPECT_EQ(seam.closed.size(), 3u) << "every opened node is closed with its handle";

    for (const char16_t* unknown :
         {u"\\\\.\\PhysicalDrive9", u"\\\\.\\SCSI7:", u"\\\\.\\Q:", u"\\\\.\\PhysicalDriveX", u"\\\\?\\ide#other"}) {
        EXPECT_FALSE(Open(*d, unknown));
        EXPECT_EQ(platform::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    }
    EXPECT_FALSE(d->CreateFile(u"\\\\.\\PhysicalDrive0", kReadWrite, 3, win::CREATE_ALWAYS, 0));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_ACCESS_DENIED);

    for (auto [e, expected] : {std::pair{ENOENT, win::ERROR_FILE_NOT_FOUND}, std::pair{EIO, win::ERROR_IO_DEVICE},
                               std::pair{EPERM, win::ERROR_ACCESS_DENIED}}) {
        seam.openErrors["/dev/sda"] = e;
        EXPECT_FALSE(Open(*d, u"\\\\.\\PhysicalDrive0")) << e;
        EXPECT_EQ(platform::GetLastError(), expected) << e;
    }
    EXPECT_EQ(d->TakeDeviceError(),
              "/dev/sda: cannot open the device for reading and writing: Operation not "
              "permitted (run as root)");
    EXPECT_EQ(d->TakeDeviceError(), "");
}

TEST_F(LinuxDevicesTest, SmartReadDataTravelsAsPassThroughAndComesBackInTheWindowsLayout) {
    auto d = Make(false);
    auto dev = Open(*d, u"\\\\.\\PhysicalDrive0");
    ASSERT_TRUE(dev);
    seam.dataIn.assign(512, 0);
    seam.dataIn[0] = 0x10;
    seam.dataIn[511] = 0x77;
    seam.scsiReply.status = 0x02;
    seam.scsiReply.driverStatus = 0x08;
    auto io = Buffered(kReadData, platform::ATA_FLAGS_DATA_IN, 512, 1000);
    uint32_t returned = 0;
    ASSERT_TRUE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io, &returned));
    ASSERT_EQ(seam.scsi.size(), 1u);
    EXPECT_EQ(seam.scsi[0].cdb, (std::vector<uint8_t>{0x85, 0x08, 0x0E, 0x00, 0xD0, 0x00, 0x01, 0x00, 0x01, 0x00, 0x4F,
                                                      0x00, 0xC2, 0xA0, 0xB0, 0x00}));
    EXPECT_EQ(seam.scsi[0].direction, ScsiDataDirection::FromDevice);
    EXPECT_EQ(seam.scsi[0].data.size(), 512u);
    EXPECT_EQ(seam.scsi[0].timeoutMs, 1000u * 1000);
    EXPECT_EQ(returned, 44u + 512);
    const AtaPassThroughEx back = HeaderOf(io);
    EXPECT_EQ(back.DataTransferLength, 512u);
    EXPECT_EQ(back.CurrentTaskFile.command, 0x50);
    EXPECT_EQ(back.CurrentTaskFile.lbaMid, 0x4F);
    EXPECT_EQ(io[44], 0x10);
    EXPECT_EQ(io[44 + 511], 0x77);

    // A kernel that moved less than asked reports less.
    seam.scsiReply.residual = 12;
    io = Buffered(kReadData, platform::ATA_FLAGS_DATA_IN, 512);
    ASSERT_TRUE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io, &returned));
    EXPECT_EQ(HeaderOf(io).DataTransferLength, 500u);
    EXPECT_EQ(returned, 44u + 500);
}

TEST_F(LinuxDevicesTest, ReturnStatusAndAbortsComeBackInTheRegisters) {
    auto d = Make(false);
    auto dev = Open(*d, u"\\\\.\\PhysicalDrive0");
    const AtaTaskFile status{0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0, 0};
    // The fixed format (the kernel's other one; both are decoded alike, see SatTranslation).
    seam.sense = {0x70, 0, 0x01, 0, 0x50, 0xA0, 0, 0x0A, 0, 0, 0xF4, 0x2C, 0, 0x1D};
    auto io = Buffered(status, 0, 0);
    ASSERT_TRUE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io));
    EXPECT_EQ(HeaderOf(io).CurrentTaskFile.lbaMid, 0xF4);
    EXPECT_EQ(HeaderOf(io).CurrentTaskFile.lbaHigh, 0x2C);
    EXPECT_EQ(seam.scsi.back().direction, ScsiDataDirection::None);
    // An ATA error is a call that succeeds with ERR and ABRT in the registers and no data.
    seam.sense = {0x72, 0x0B, 0, 0, 0, 0, 0, 0x0E, 0x09, 0x0C, 0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0x51};
    io = Buffered(kReadData, platform::ATA_FLAGS_DATA_IN, 512);
    ASSERT_TRUE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io));
    EXPECT_EQ(HeaderOf(io).CurrentTaskFile.command, 0x51);
    EXPECT_EQ(HeaderOf(io).CurrentTaskFile.features, 0x04);
    EXPECT_EQ(HeaderOf(io).DataTransferLength, 0u);

    // A failed transport fails the call.
    seam.scsiReply = ScsiReply{EIO};
    io = Buffered(kReadData, platform::ATA_FLAGS_DATA_IN, 512);
    EXPECT_FALSE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_IO_DEVICE);
}

TEST_F(LinuxDevicesTest, CommandsThatChangeADriveNeedWritesAllowed) {
    struct Case {
        uint32_t ioctl;
        AtaTaskFile tf;
        uint16_t flags;
        uint32_t length;
        const char* message;
    };
    const Case refused[] = {
        {platform::IOCTL_ATA_PASS_THROUGH, kEraseUnit, platform::ATA_FLAGS_DATA_OUT, 512,
         "/dev/sda: ATA command F4h refused: commands that change a drive are off (set "
         "TARVEX_ALLOW_WRITES=1 to allow "
         "them)"},
        {platform::IOCTL_ATA_PASS_THROUGH,
         {0xD6, 1, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0, 0},
         platform::ATA_FLAGS_DATA_OUT,
         512,
         "/dev/sda: ATA command B0h (SMART D6h) refused: commands that change a drive are off (set "
         "TARVEX_ALLOW_WRITES=1 to allow them)"},
        {platform::IOCTL_ATA_PASS_THROUGH, {0x01, 1, 0, 0, 0, 0, 0x06, 0}, 0x1C, 512, nullptr},
        {platform::IOCTL_ATA_PASS_THROUGH,
         {0x07, 1, 0, 0, 0, 0xA0, 0x92, 0},
         platform::ATA_FLAGS_DATA_OUT,
         512,
         nullptr},
        {platform::IOCTL_ATA_PASS_THROUGH, {0, 0, 0, 0, 0, 0xA0, 0xE0, 0}, 0, 0, nullptr},
        {platform::IOCTL_ATA_PASS_THROUGH,
         {0xE5, 0x3C, 0, 0, 0, 0xA0, 0xEF, 0},
         platform::ATA_FLAGS_DATA_OUT,
         512,
         nullptr},
        {platform::IOCTL_IDE_PASS_THROUGH, {0, 0, 0, 0, 0, 0, 0xF5, 0}, 0, 0, nullptr},
    };
    for (bool allow : {false, true}) {
        auto d = Make(allow);
        auto dev = Open(*d, u"\\\\.\\PhysicalDrive0");
        seam.scsi.clear();
        for (const Case& c : refused) {
            std::vector<uint8_t> io;
            if (c.ioctl == platform::IOCTL_ATA_PASS_THROUGH) {
                io = Buffered(c.tf, c.flags, c.length);
            } else {
                io.assign(sizeof(platform::IdePassThroughHeader), 0);
                std::memcpy(io.data(), &c.tf, sizeof c.tf);
            }
            EXPECT_EQ(Send(*dev, c.ioctl, io), allow) << int(c.tf.command);
            if (!allow) {
                EXPECT_EQ(platform::GetLastError(), win::ERROR_ACCESS_DENIED);
                const std::string message = d->TakeDeviceError();
                if (c.message != nullptr) {
                    EXPECT_EQ(message, c.message);
                }
                EXPECT_NE(message.find("refused"), std::string::npos) << message;
            }
        }
        EXPECT_EQ(seam.scsi.size(), allow ? std::size(refused) : 0u) << "refused commands reach nothing";
    }
    // The reading commands pass without the flag.
    auto d = Make(false);
    auto dev = Open(*d, u"\\\\.\\PhysicalDrive0");
    seam.scsi.clear();
    for (const AtaTaskFile& tf :
         {AtaTaskFile{0, 0, 0, 0, 0, 0xA0, 0xEC, 0}, kReadData, AtaTaskFile{0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0},
          AtaTaskFile{0xD5, 1, 6, 0x4F, 0xC2, 0xA0, 0xB0, 0}}) {
        auto io = Buffered(tf, platform::ATA_FLAGS_DATA_IN, 512);
        EXPECT_TRUE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io)) << int(tf.features);
    }
    for (const AtaTaskFile& tf :
         {AtaTaskFile{0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0, 0}, AtaTaskFile{0, 0, 0, 0, 0, 0xA0, 0xE5, 0}}) {
        auto io = Buffered(tf, 0, 0);
        EXPECT_TRUE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io)) << int(tf.command);
    }
    EXPECT_EQ(seam.scsi.size(), 6u);
    EXPECT_EQ(d->TakeDeviceError(), "");
}

TEST_F(LinuxDevicesTest, MissingPrivilegeFailsWithOneMessageAndSendsNothing) {
    auto d = Make(true);
    seam.rawio = false;
    seam.admin = false;
    auto dev = Open(*d, u"\\\\.\\PhysicalDrive0");
    auto io = Buffered(kReadData, platform::ATA_FLAGS_DATA_IN, 512);
    EXPECT_FALSE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_ACCESS_DENIED);
    // A scan asks several times: the refusal is said once.
    EXPECT_FALSE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io));
    EXPECT_EQ(d->TakeDeviceError(), "/dev/sda: sending ATA commands needs the CAP_SYS_RAWIO privilege (run as root)");
    EXPECT_TRUE(seam.scsi.empty());
    // The questions the records answer need no privilege.
    std::vector<uint8_t> address(8, 0);
    EXPECT_TRUE(Send(*dev, platform::IOCTL_SCSI_GET_ADDRESS, address));
}

// An "NvmeMini" request of `dataBytes` data bytes.
std::vector<uint8_t> NvmeRequest(uint32_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t dataBytes) {
    platform::NvmePassThroughHeader h{};
    h.SrbIoCtrl.HeaderLength = sizeof(platform::SrbIoControl);
    std::memcpy(h.SrbIoCtrl.Signature, platform::kNvmeMiniSignature, 8);
    h.SrbIoCtrl.ControlCode = platform::kNvmePassThroughControlCode;
    h.SrbIoCtrl.Length = sizeof h - sizeof(platform::SrbIoControl) + dataBytes;
    h.NVMeCmd[0] = opcode | (0x1234u << 16);
    h.NVMeCmd[1] = nsid;
    h.NVMeCmd[10] = cdw10;
    h.NVMeCmd[11] = 0xAB;
    h.Direction = platform::kNvmeDirectionDeviceToHost;
    h.ReturnBufferLen = sizeof h + dataBytes;
    std::vector<uint8_t> r(sizeof h + dataBytes, 0);
    std::memcpy(r.data(), &h, sizeof h);
    return r;
}

platform::NvmePassThroughHeader NvmeHeaderOf(const std::vector<uint8_t>& r) {
    platform::NvmePassThroughHeader h;
    std::memcpy(&h, r.data(), sizeof h);
    return h;
}

TEST_F(LinuxDevicesTest, NvmeMiniportRequestsBecomeAdminCommandsOnTheController) {
    auto d = Make(false);
    auto port = Open(*d, u"\\\\.\\SCSI4:");
    ASSERT_TRUE(port);
    seam.dataIn.assign(4096, 0x5A);
    seam.nvmeReply.result = 0xCAFE;
    auto io = NvmeRequest(0x06, 0, 1, 4096);
    uint32_t returned = 0;
    ASSERT_TRUE(Send(*port, platform::IOCTL_SCSI_MINIPORT, io, &returned));
    ASSERT_EQ(seam.nvme.size(), 1u);
    EXPECT_EQ(seam.nvme[0].command.opcode, 0x06);
    EXPECT_EQ(seam.nvme[0].command.nsid, 0u);
    EXPECT_EQ(seam.nvme[0].command.cdw10to15[0], 1u);
    EXPECT_EQ(seam.nvme[0].command.cdw10to15[1], 0xABu);
    EXPECT_EQ(seam.nvme[0].dataLength, 4096u);
    EXPECT_EQ(returned, 152u + 4096);
    EXPECT_EQ(io[152], 0x5A);
    EXPECT_EQ(io[152 + 4095], 0x5A);
    auto h = NvmeHeaderOf(io);
    EXPECT_EQ(h.SrbIoCtrl.ReturnCode, 0u);
    EXPECT_EQ(h.CplEntry[3], 0x1234u | 0x10000u);
    EXPECT_EQ(h.CplEntry[0], 0xCAFEu);

    // Get Log Page failing with Invalid Field in Command (SCT 0, SC 02h) and DNR.
    seam.nvmeReply = NvmeReply{0, 0x4002, 0};
    io = NvmeRequest(0x02, 0xFFFFFFFF, 0x007F0002, 512);
    ASSERT_TRUE(Send(*port, platform::IOCTL_SCSI_MINIPORT, io, &returned));
    EXPECT_EQ(seam.nvme.back().command.nsid, 0xFFFFFFFFu);
    h = NvmeHeaderOf(io);
    EXPECT_EQ(h.SrbIoCtrl.ReturnCode, 1u);
    EXPECT_EQ(h.CplEntry[3], 0x1234u | 0x10000u | (0x02u << 17) | (0x4000u << 17));
    EXPECT_EQ(returned, 152u) << "a failed command comes back as the header alone";

    seam.nvmeReply = NvmeReply{EIO, 0, 0};
    io = NvmeRequest(0x02, 0xFFFFFFFF, 0x007F0002, 512);
    EXPECT_FALSE(Send(*port, platform::IOCTL_SCSI_MINIPORT, io));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_IO_DEVICE);

    // Other opcodes (Format NVM) are refused; so is a controller without CAP_SYS_ADMIN.
    const size_t sent = seam.nvme.size();
    io = NvmeRequest(0x80, 1, 0, 512);
    EXPECT_FALSE(Send(*port, platform::IOCTL_SCSI_MINIPORT, io));
    EXPECT_EQ(d->TakeDeviceError(),
              "/dev/nvme0: NVMe admin command 80h refused: commands that change a drive are off "
              "(set TARVEX_ALLOW_WRITES=1 to allow them)");
    seam.admin = false;
    io = NvmeRequest(0x06, 0, 1, 4096);
    EXPECT_FALSE(Send(*port, platform::IOCTL_SCSI_MINIPORT, io));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(d->TakeDeviceError(),
              "/dev/nvme0: sending NVMe admin commands needs the CAP_SYS_ADMIN privilege (run as root)");
    EXPECT_EQ(seam.nvme.size(), sent);
}

TEST_F(LinuxDevicesTest, EveryDeviceThatRefusedIsNamedOnItsOwnLine) {
    auto d = Make(false);
    seam.rawio = false;
    seam.admin = false;
    auto disk = Open(*d, u"\\\\.\\PhysicalDrive0");
    auto port = Open(*d, u"\\\\.\\SCSI4:");
    ASSERT_TRUE(disk && port);
    auto ata = Buffered(kReadData, platform::ATA_FLAGS_DATA_IN, 512);
    auto nvme = NvmeRequest(0x06, 0, 1, 4096);
    EXPECT_FALSE(Send(*disk, platform::IOCTL_ATA_PASS_THROUGH, ata));
    EXPECT_FALSE(Send(*port, platform::IOCTL_SCSI_MINIPORT, nvme));
    EXPECT_FALSE(Send(*disk, platform::IOCTL_ATA_PASS_THROUGH, ata));
    EXPECT_EQ(d->TakeDeviceError(),
              "/dev/sda: sending ATA commands needs the CAP_SYS_RAWIO privilege (run as root)\n"
              "/dev/nvme0: sending NVMe admin commands needs the CAP_SYS_ADMIN privilege (run as root)");
    EXPECT_TRUE(seam.scsi.empty() && seam.nvme.empty());
}

TEST_F(LinuxDevicesTest, MalformedRequestsAreRefusedBeforeTheDrive) {
    auto d = Make(true);
    auto dev = Open(*d, u"\\\\.\\PhysicalDrive0");
    auto port = Open(*d, u"\\\\.\\SCSI4:");
    auto sataPort = Open(*d, u"\\\\.\\SCSI1:");
    auto nvmeDisk = Open(*d, u"\\\\.\\PhysicalDrive1");
    auto expectFail = [&](platform::Device& on, uint32_t code, std::vector<uint8_t> io, uint32_t error,
                          const char* what) {
        EXPECT_FALSE(Send(on, code, io)) << what;
        EXPECT_EQ(platform::GetLastError(), error) << what;
    };
    auto edit = [](std::vector<uint8_t> io, auto change) {
        AtaPassThroughEx h = HeaderOf(io);
        change(h);
        std::memcpy(io.data(), &h, sizeof h);
        return io;
    };
    const auto good = Buffered(kReadData, platform::ATA_FLAGS_DATA_IN, 512);
    const uint32_t bad = win::ERROR_INVALID_PARAMETER;
    const uint32_t ata = platform::IOCTL_ATA_PASS_THROUGH;
    expectFail(*dev, ata, std::vector<uint8_t>(good.begin(), good.begin() + 39), bad, "short header");
    expectFail(*dev, ata, edit(good, [](auto& h) { h.Length = 44; }), bad, "wrong Length");
    expectFail(*dev, ata, edit(good, [](auto& h) { h.AtaFlags = 0x06; }), bad, "both directions");
    expectFail(*dev, ata, edit(good, [](auto& h) { h.AtaFlags = 0; }), bad, "data without a direction");
    expectFail(*dev, ata, edit(good, [](auto& h) { h.DataTransferLength = 0x20001; }), bad, "too long");
    expectFail(*dev, ata, edit(good, [](auto& h) { h.DataBufferOffset = 20; }), bad, "data inside the header");
    expectFail(*dev, ata, edit(good, [](auto& h) { h.DataBufferOffset = 48; }), bad, "data past the output");
    expectFail(*dev, platform::IOCTL_ATA_PASS_THROUGH_DIRECT, std::vector<uint8_t>(good.begin(), good.begin() + 40),
               bad, "direct without its buffer");
    expectFail(*nvmeDisk, ata, good, win::ERROR_INVALID_FUNCTION, "ATA to an NVMe disk");
    std::vector<uint8_t> smart(sizeof(platform::SendCmdOutParams), 0);
    smart[4] = 0xD6;  // SMART WRITE LOG through the receive call
    smart[10] = 0xB0;
    expectFail(*dev, platform::SMART_RCV_DRIVE_DATA, smart, bad, "SMART receive of a writing subcommand");
    std::vector<uint8_t> ide(sizeof(platform::IdePassThroughHeader), 0);
    ide[6] = 0xEC;
    ide[8] = 0x00;
    ide[9] = 0x02;  // 512 bytes of IDENTIFY into a 12-byte buffer
    expectFail(*dev, platform::IOCTL_IDE_PASS_THROUGH, ide, bad, "IDE data past the output");

    const auto nvme = NvmeRequest(0x06, 0, 1, 4096);
    auto nvmeEdit = [&](auto change) {
        auto io = nvme;
        auto h = NvmeHeaderOf(io);
        change(h);
        std::memcpy(io.data(), &h, sizeof h);
        return io;
    };
    const uint32_t mini = platform::IOCTL_SCSI_MINIPORT;
    expectFail(*port, mini, nvmeEdit([](auto& h) { h.ReturnBufferLen = 152; }), bad, "ReturnBufferLen");
    expectFail(*port, mini, nvmeEdit([](auto& h) { h.Direction = 1; }), bad, "direction");
    expectFail(*port, mini, nvmeEdit([](auto& h) { h.SrbIoCtrl.Length = 9000; }), bad, "Length past the buffer");
    expectFail(*port, mini, nvmeEdit([](auto& h) { h.SrbIoCtrl.Signature[0] = 'X'; }), win::ERROR_INVALID_FUNCTION,
               "signature");
    expectFail(*sataPort, mini, nvme, win::ERROR_INVALID_FUNCTION, "a port without NVMe");
    expectFail(*port, platform::IOCTL_ATA_PASS_THROUGH, good, win::ERROR_INVALID_FUNCTION, "ATA to a port");
    EXPECT_TRUE(seam.scsi.empty());
    EXPECT_TRUE(seam.nvme.empty());
}

TEST_F(LinuxDevicesTest, DirectIdeAndSmartReceiveFormsCarryTheirData) {
    auto d = Make(true);
    auto dev = Open(*d, u"\\\\.\\PhysicalDrive0");
    // Direct, data out: the caller's buffer goes to the drive.
    std::vector<uint8_t> data(512, 0x3C);
    AtaPassThroughEx h{};
    h.Length = 40;
    h.AtaFlags = 0x15;
    h.DataTransferLength = 512;
    h.TimeOutValue = 100;
    h.DataBufferOffset = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data.data()));
    h.CurrentTaskFile = {0xE5, 0x3C, 0, 0, 0, 0xA0, 0xEF, 0};
    std::vector<uint8_t> io(40);
    std::memcpy(io.data(), &h, 40);
    uint32_t n = 0;
    ASSERT_TRUE(dev->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH_DIRECT, io, io, &n, data));
    EXPECT_EQ(n, 40u);
    EXPECT_EQ(seam.scsi.back().direction, ScsiDataDirection::ToDevice);
    EXPECT_EQ(seam.scsi.back().data, data);
    EXPECT_EQ(seam.scsi.back().cdb[1], 0x0C) << "DMA out";

    // IDE pass-through: the direction comes from the command (SMART READ DATA: in).
    seam.dataIn.assign(512, 0x42);
    std::vector<uint8_t> ide(12 + 512, 0);
    const platform::IdePassThroughHeader ih{kReadData, 512};
    std::memcpy(ide.data(), &ih, sizeof ih);
    ASSERT_TRUE(Send(*dev, platform::IOCTL_IDE_PASS_THROUGH, ide, &n));
    EXPECT_EQ(seam.scsi.back().direction, ScsiDataDirection::FromDevice);
    EXPECT_EQ(seam.scsi.back().cdb[1], 0x08);
    EXPECT_EQ(n, 12u + 512);
    EXPECT_EQ(ide[12], 0x42);

    // SMART receive of IDENTIFY: the page after the 16-byte header.
    std::vector<uint8_t> smart(sizeof(platform::SendCmdOutParams), 0);
    smart[10] = 0xEC;
    ASSERT_TRUE(Send(*dev, platform::SMART_RCV_DRIVE_DATA, smart, &n));
    EXPECT_EQ(n, 528u);
    EXPECT_EQ(smart[0], 0x00);
    EXPECT_EQ(smart[1], 0x02) << "cBufferSize 512";
    EXPECT_EQ(smart[16], 0x42);
    // An abort comes back in DriverStatus.
    seam.sense = {0x72, 0x0B, 0, 0, 0, 0, 0, 0x0E, 0x09, 0x0C, 0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0x51};
    std::fill(smart.begin(), smart.end(), 0);
    smart[10] = 0xEC;
    ASSERT_TRUE(Send(*dev, platform::SMART_RCV_DRIVE_DATA, smart, &n));
    EXPECT_EQ(n, 16u);
    EXPECT_EQ(smart[4], 1) << "bDriverError";
    EXPECT_EQ(smart[5], 0x04) << "bIDEError";
}

TEST_F(LinuxDevicesTest, AnEraseWaitsAsLongAsTheLastIdentifyPageSays) {
    auto d = Make(true);
    auto dev = Open(*d, u"\\\\.\\PhysicalDrive0");
    seam.dataIn.assign(512, 0);
    seam.dataIn[178] = 30;  // 60 minutes normal erase
    auto io = Buffered({0, 0, 0, 0, 0, 0xA0, 0xEC, 0}, platform::ATA_FLAGS_DATA_IN, 512);
    ASSERT_TRUE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io));
    io = Buffered(kEraseUnit, platform::ATA_FLAGS_DATA_OUT, 512, 1000);
    ASSERT_TRUE(Send(*dev, platform::IOCTL_ATA_PASS_THROUGH, io));
    EXPECT_EQ(seam.scsi.back().timeoutMs, (3600u + 900u) * 1000);
}

TEST_F(LinuxDevicesTest, AddressesNumbersAndVolumesComeFromTheRecords) {
    auto d = Make(false);
    auto disk = Open(*d, u"\\\\.\\PhysicalDrive0", 0);
    std::vector<uint8_t> out(64, 0xEE);
    uint32_t n = 0;
    ASSERT_TRUE(disk->DeviceIoControl(platform::IOCTL_SCSI_GET_ADDRESS, {}, out, &n));
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8), (std::vector<uint8_t>{8, 0, 0, 0, 1, 0, 3, 0}));
    ASSERT_TRUE(disk->DeviceIoControl(platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, out, &n));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 12),
              (std::vector<uint8_t>{7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::vector<uint8_t> tiny(4);
    EXPECT_FALSE(disk->DeviceIoControl(platform::IOCTL_SCSI_GET_ADDRESS, {}, tiny, &n));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(disk->DeviceIoControl(0x12345678, {}, out, &n));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_FUNCTION);

    auto c = Open(*d, u"\\\\.\\C:", 0);
    ASSERT_TRUE(c->DeviceIoControl(platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, out, &n));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 12),
              (std::vector<uint8_t>{7, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}));
    ASSERT_TRUE(c->DeviceIoControl(platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, {}, out, &n));
    EXPECT_EQ(n, 32u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 32),
              (std::vector<uint8_t>{1, 0, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0, 0,
                                    0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0}));
    std::vector<uint8_t> short31(31);
    EXPECT_FALSE(c->DeviceIoControl(platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, {}, short31, &n));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    auto usbVolume = Open(*d, u"\\\\.\\D:", 0);
    ASSERT_TRUE(usbVolume->DeviceIoControl(platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, out, &n));
    EXPECT_EQ(out[0], 0x2D) << "FILE_DEVICE_MASS_STORAGE";
    EXPECT_EQ(out[4], 2);
}

TEST_F(LinuxDevicesTest, RawReadsGoThroughPread) {
    auto d = Make(false);
    seam.disk.resize(4096);
    for (size_t i = 0; i < seam.disk.size(); ++i) {
        seam.disk[i] = static_cast<uint8_t>(i / 512 + 1);
    }
    seam.preadChunk = 300;  // the kernel hands the bytes over in pieces
    auto dev = Open(*d, u"\\\\.\\PhysicalDrive0", win::GENERIC_READ);
    std::vector<uint8_t> buf(1024, 0);
    uint32_t n = 0;
    ASSERT_TRUE(dev->SetPosition(3072));
    ASSERT_TRUE(dev->Read(buf.data(), 1024, &n));
    EXPECT_EQ(n, 1024u);
    EXPECT_EQ(buf[0], 7);
    EXPECT_EQ(buf[1023], 8);
    ASSERT_TRUE(dev->Read(buf.data(), 512, &n));
    EXPECT_EQ(n, 0u) << "past the end";
    EXPECT_FALSE(dev->SetPosition(100));
    EXPECT_FALSE(dev->Read(buf.data(), 100, &n));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER);
    auto volume = Open(*d, u"\\\\.\\C:");
    EXPECT_FALSE(volume->Read(buf.data(), 512, &n));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_FUNCTION);
}

TEST_F(LinuxDevicesTest, ListingAndReenumerationFollowTheInventory) {
    auto d = Make(false);
    auto set = d->SetupDiGetClassDevs(sim::kDiskInterfaceGuid, 0x12);
    platform::DeviceInterfaceData data;
    std::vector<std::u16string> paths;
    for (uint32_t i = 0; set->EnumDeviceInterfaces(i, &data); ++i) {
        uint32_t need = 0;
        EXPECT_FALSE(set->GetDeviceInterfaceDetail(data, {}, &need));
        std::vector<uint8_t> detail(need, 0);
        detail[0] = 6;
        ASSERT_TRUE(set->GetDeviceInterfaceDetail(data, detail, nullptr));
        std::u16string path;
        for (size_t k = 4; k + 1 < detail.size() && (detail[k] | detail[k + 1]); k += 2) {
            path.push_back(static_cast<char16_t>(detail[k] | (detail[k + 1] << 8)));
        }
        paths.push_back(path);
    }
    EXPECT_EQ(platform::GetLastError(), win::ERROR_NO_MORE_ITEMS);
    const HostInventory inv = TestInventory();
    ASSERT_EQ(paths.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(paths[i], inv.disks[i].interfacePath);
    }

    // A disk that appears is found after a re-enumeration, not before.
    reread = inv;
    HostDisk extra = inv.disks[0];
    extra.number = 3;
    extra.blockNode = "/dev/sdc";
    reread.disks.push_back(extra);
    EXPECT_FALSE(Open(*d, u"\\\\.\\PhysicalDrive3"));
    auto cm = d->LoadConfigManager();
    uint32_t root = 0;
    ASSERT_EQ(cm->CM_Locate_DevNode(&root, std::nullopt, 0), win::CR_SUCCESS);
    EXPECT_EQ(cm->CM_Reenumerate_DevNode(root + 1, 0), win::CR_INVALID_DEVNODE);
    EXPECT_EQ(rereads, 0);
    ASSERT_EQ(cm->CM_Reenumerate_DevNode(root, 0), win::CR_SUCCESS);
    EXPECT_EQ(rereads, 1);
    EXPECT_TRUE(Open(*d, u"\\\\.\\PhysicalDrive3"));
    EXPECT_EQ(seam.opens.back().first, "/dev/sdc");
}

}  // namespace
}  // namespace tarvex::linuxhost
