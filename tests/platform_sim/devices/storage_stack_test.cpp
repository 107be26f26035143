// The emulated storage stack: what opens, how requests are decoded and refused, and what the
// request log shows.
#include <gtest/gtest.h>

#include <functional>

#include "platform/sim/embedded_profiles.h"
#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

using nlohmann::json;
using platform::AtaPassThroughEx;

json ThreeDisks() {
    json sata = SataDiskJson(0);
    sata["port"] = 1;
    json nvme = {{"number", 1}, {"kind", "nvme"}, {"model", "VARNO NV10 512GB"}, {"serial", "NV0001"},
                 {"firmware", "E8FK11.5"}, {"capacityBytes", 512110190592ull}, {"port", 2},
                 {"nvme", {{"driver", "miniport"}, {"health", {{"temperatureCelsius", 41}, {"percentageUsed", 3},
                                                              {"powerOnHours", 1200}, {"dataUnitsWritten", 123456}}}}}};
    json usb = {{"number", 2}, {"kind", "usb"}, {"model", "Kingmax Flash"}, {"serial", "U123"},
                {"firmware", "1.00"}, {"capacityBytes", 16008609792ull}};
    return json::array({sata, nvme, usb});
}

TEST(StorageStack, OpensDrivesByNumberInterfacePathAndPortIgnoringCase) {
    TestMachine m(ProfileWithDisks(ThreeDisks()));
    auto& devices = m->Devices();
    const std::u16string sataPath = devices.Disk(0)->Profile().interfacePath;
    EXPECT_EQ(sataPath.rfind(u"\\\\?\\ide#diskvarno_tl30a_256gb_______________________1.08____#5&", 0), 0u)
        << platform::Utf16ToUtf8(sataPath);
    EXPECT_NE(devices.Disk(1)->Profile().interfacePath.find(u"\\\\?\\scsi#disk&ven_nvme&prod_varno_nv10_512gb#"),
              std::u16string::npos);
    EXPECT_EQ(devices.Disk(2)->Profile().interfacePath.rfind(u"\\\\?\\usbstor#disk&ven_kingmax&prod_flash&rev_1.00#u123&0#", 0), 0u);
    EXPECT_EQ(sim::PnpDeviceId(devices.Disk(0)->Profile()).rfind(u"IDE\\DISKVARNO_TL30A", 0), 0u);

    EXPECT_TRUE(Open(u"\\\\.\\PHYSICALDRIVE0"));
    EXPECT_TRUE(Open(u"\\\\.\\PhysicalDrive2"));
    EXPECT_TRUE(Open(platform::FoldCase(sataPath)));
    std::u16string upper = sataPath;
    for (char16_t& c : upper) {
        c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    }
    EXPECT_TRUE(Open(upper)) << "interface paths compare case-insensitively";
    EXPECT_TRUE(Open(u"\\\\.\\Scsi2:"));
    for (const char16_t* missing : {u"\\\\.\\PhysicalDrive3", u"\\\\.\\SCSI7:", u"\\\\.\\PhysicalDrive", u"\\\\.\\SCSI2",
                                    u"\\\\?\\ide#nothing"}) {
        platform::SetLastError(0);
        EXPECT_FALSE(Open(missing)) << platform::Utf16ToUtf8(missing);
        EXPECT_EQ(platform::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    }
}

TEST(StorageStack, ListsDiskInterfacesWithTheirDetailPaths) {
    TestMachine m(ProfileWithDisks(ThreeDisks()));
    auto set = platform::Current().devices->SetupDiGetClassDevs(sim::kDiskInterfaceGuid, 0x12);
    ASSERT_TRUE(set);
    std::vector<std::u16string> paths;
    for (uint32_t i = 0;; ++i) {
        platform::DeviceInterfaceData data;
        if (!set->EnumDeviceInterfaces(i, &data)) {
            EXPECT_EQ(platform::GetLastError(), win::ERROR_NO_MORE_ITEMS);
            break;
        }
        std::vector<uint8_t> detail(1024, 0);
        detail[0] = 6;
        uint32_t required = 0;
        ASSERT_TRUE(set->GetDeviceInterfaceDetail(data, std::span(detail).first(8), &required) == false);
        EXPECT_EQ(platform::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
        ASSERT_TRUE(set->GetDeviceInterfaceDetail(data, detail, &required));
        std::u16string p;
        for (size_t k = 4; detail[k] != 0 || detail[k + 1] != 0; k += 2) {
            p.push_back(static_cast<char16_t>(detail[k] | (detail[k + 1] << 8)));
        }
        EXPECT_EQ(required, 4 + 2 * (p.size() + 1));
        paths.push_back(p);
    }
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[2], m->Devices().Disk(2)->Profile().interfacePath);
}

TEST(StorageStack, MalformedPassThroughIsRefusedBeforeTheDrive) {
    TestMachine m(ProfileWithDisks(json::array({SataDiskJson(0)})));
    auto dev = Open(kDrive0);
    ASSERT_TRUE(dev);
    auto identify = [] {
        std::vector<uint8_t> buf(44 + 512, 0);
        AtaPassThroughEx h{};
        h.Length = 40;
        h.AtaFlags = platform::ATA_FLAGS_DATA_IN;
        h.DataTransferLength = 512;
        h.DataBufferOffset = 44;
        h.CurrentTaskFile.command = 0xEC;
        std::memcpy(buf.data(), &h, sizeof h);
        return buf;
    };
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&, AtaPassThroughEx&)> change;
    };
    const Case cases[] = {
        {"Length 36", [](auto&, AtaPassThroughEx& h) { h.Length = 36; }},
        {"Length 44", [](auto&, AtaPassThroughEx& h) { h.Length = 44; }},
        {"data offset past the buffer", [](auto&, AtaPassThroughEx& h) { h.DataBufferOffset = 100; }},
        {"data offset inside the header", [](auto&, AtaPassThroughEx& h) { h.DataBufferOffset = 8; }},
        {"transfer longer than the buffer", [](auto&, AtaPassThroughEx& h) { h.DataTransferLength = 1024; }},
        {"both directions", [](auto&, AtaPassThroughEx& h) { h.AtaFlags = 6; }},
        {"data without a direction", [](auto&, AtaPassThroughEx& h) { h.AtaFlags = 1; }},
        {"buffer shorter than the header", [](std::vector<uint8_t>& b, auto&) { b.resize(39); }},
    };
    const uint64_t mark = m->Devices().RequestMark();
    for (const Case& c : cases) {
        std::vector<uint8_t> buf = identify();
        AtaPassThroughEx h;
        std::memcpy(&h, buf.data(), sizeof h);
        c.change(buf, h);
        if (buf.size() >= sizeof h) {
            std::memcpy(buf.data(), &h, sizeof h);
        }
        uint32_t returned = 99;
        EXPECT_FALSE(dev->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH, buf, buf, &returned)) << c.what;
        EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER) << c.what;
        EXPECT_EQ(returned, 0u) << c.what;
    }
    // Direct form: the data buffer must be there, large enough, aligned and named in the header.
    alignas(16) uint8_t page[528] = {};
    const auto direct = [&](std::span<uint8_t> data, uint32_t addressField) {
        std::vector<uint8_t> hdr(40, 0);
        AtaPassThroughEx h{};
        h.Length = 40;
        h.AtaFlags = 0x13;
        h.DataTransferLength = 512;
        h.DataBufferOffset = addressField;
        h.CurrentTaskFile.command = 0xEC;
        std::memcpy(hdr.data(), &h, sizeof h);
        uint32_t returned = 0;
        return dev->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH_DIRECT, hdr, hdr, &returned, data);
    };
    const auto low32 = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    EXPECT_FALSE(direct(std::span(page, 256), low32(page))) << "direct buffer smaller than the length";
    EXPECT_FALSE(direct(std::span(page + 1, 512), low32(page + 1))) << "misaligned direct buffer";
    EXPECT_FALSE(direct(std::span(page, 512), low32(page) + 16)) << "header names another buffer";
    EXPECT_FALSE(direct({}, 0)) << "no direct buffer";
    const auto refused = m->Devices().RequestsSince(mark);
    EXPECT_EQ(refused.size(), std::size(cases) + 4);
    for (const auto& r : refused) {
        EXPECT_FALSE(r.reachedDrive);
        EXPECT_EQ(r.error, win::ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(direct(std::span(page, 512), low32(page)));
    EXPECT_EQ(page[2 * 27 + 1], 'V') << "IDENTIFY data arrive in the direct buffer";
    ASSERT_TRUE(m->Devices().LastRequest());
    EXPECT_TRUE(m->Devices().LastRequest()->reachedDrive);
}

TEST(StorageStack, RecordsEveryRequestWithItsBytesAndHandlesAliasedBuffers) {
    TestMachine m(ProfileWithDisks(json::array({SataDiskJson(0)})));
    const uint64_t mark = m->Devices().RequestMark();
    AtaReply r = DataIn(kDrive0, SmartRegs(0xD0));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.returned, 44u + 512u);
    EXPECT_EQ(r.transferLength, 512u);
    EXPECT_EQ(r.regs.command, 0x50) << "status DRDY|DSC";
    auto log = m->Devices().RequestsSince(mark);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, sim::DeviceRequest::Kind::Open);
    EXPECT_EQ(log[0].path, kDrive0);
    EXPECT_EQ(log[1].ioctl, platform::IOCTL_ATA_PASS_THROUGH);
    ASSERT_EQ(log[1].input.size(), 44u + 512u);
    EXPECT_EQ(log[1].input[32], 0xD0) << "the features byte as sent";
    EXPECT_EQ(log[1].input[38], 0xB0) << "the command byte as sent, before the status replaced it";
    ASSERT_TRUE(log[1].ata);
    EXPECT_EQ(log[1].ata->lbaMid, 0x4F);
    EXPECT_TRUE(log[1].reachedDrive);

    // SMART receive-data: 33 bytes in, exactly 528 out, the page at 16.
    auto dev = Open(kDrive0);
    std::vector<uint8_t> in(33, 0);
    in[0] = 0x00;
    in[1] = 0x02;  // cBufferSize 512
    in[4] = 0xD0;
    in[5] = 1;
    in[6] = 1;
    in[7] = 0x4F;
    in[8] = 0xC2;
    in[10] = 0xB0;
    std::vector<uint8_t> out(528, 0xEE);
    uint32_t returned = 0;
    ASSERT_TRUE(dev->DeviceIoControl(platform::SMART_RCV_DRIVE_DATA, in, out, &returned));
    EXPECT_EQ(returned, 528u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 16, out.end()), std::vector<uint8_t>(r.data.begin(), r.data.begin() + 512));
    in[4] = 0xD6;  // WRITE LOG is not a receive-data request
    EXPECT_FALSE(dev->DeviceIoControl(platform::SMART_RCV_DRIVE_DATA, in, out, &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER);
    in[4] = 0xD4;  // the off-line immediate comes back as 528 bytes of zero data
    in[6] = 0;     // subcommand 0: off-line data collection
    ASSERT_TRUE(dev->DeviceIoControl(platform::SMART_RCV_DRIVE_DATA, in, out, &returned));
    EXPECT_EQ(returned, 528u);
    EXPECT_EQ(out[100], 0);
    in[4] = 0xD0;
    in[7] = 0;  // a SMART command without the 4Fh/C2h signature is aborted by the drive
    ASSERT_TRUE(dev->DeviceIoControl(platform::SMART_RCV_DRIVE_DATA, in, out, &returned));
    EXPECT_EQ(returned, 16u) << "no data comes back, so the program sees the failure";
    EXPECT_EQ(out[4], 1) << "SMART_IDE_ERROR";
    EXPECT_EQ(out[5], platform::kAtaErrorAbrt);
    std::vector<uint8_t> small(100, 0);
    in[7] = 0x4F;
    EXPECT_FALSE(dev->DeviceIoControl(platform::SMART_RCV_DRIVE_DATA, in, small, &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER);

    // Address and number queries.
    std::vector<uint8_t> addr(8, 0);
    ASSERT_TRUE(dev->DeviceIoControl(platform::IOCTL_SCSI_GET_ADDRESS, {}, addr, &returned));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(addr[0], 8);
    EXPECT_EQ(addr[4], 0) << "port defaults to the disk number";
    std::vector<uint8_t> number(12, 0xFF);
    ASSERT_TRUE(dev->DeviceIoControl(platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, number, &returned));
    EXPECT_EQ(number[0], platform::FILE_DEVICE_DISK);
    EXPECT_EQ(number[4], 0);
    EXPECT_FALSE(dev->DeviceIoControl(platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, std::span(number).first(8), &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
}

TEST(StorageStack, IdePassThroughInfersTheDataPhase) {
    TestMachine m(ProfileWithDisks(json::array({SataDiskJson(0)})));
    auto dev = Open(kDrive0);
    std::vector<uint8_t> buf(12 + 512 + 3, 0);
    buf[6] = 0xEC;
    buf[8] = 0x00;
    buf[9] = 0x02;  // 512 bytes
    uint32_t returned = 0;
    ASSERT_TRUE(dev->DeviceIoControl(platform::IOCTL_IDE_PASS_THROUGH, buf, buf, &returned));
    EXPECT_EQ(returned, 12u + 512u);
    EXPECT_EQ(buf[6], 0x50);
    EXPECT_EQ(buf[12 + 2 * 27 + 1], 'V');
    std::vector<uint8_t> shortBuf(12 + 100, 0);
    shortBuf[6] = 0xEC;
    shortBuf[9] = 0x02;
    EXPECT_FALSE(dev->DeviceIoControl(platform::IOCTL_IDE_PASS_THROUGH, shortBuf, shortBuf, &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER);
}

// The NVMe request as the program builds it.
std::vector<uint8_t> NvmeRequest(bool identify) {
    const uint32_t size = identify ? platform::kNvmeIdentifyBufferSize : platform::kNvmeLogBufferSize;
    std::vector<uint8_t> buf(size, 0);
    platform::NvmePassThroughHeader h{};
    h.SrbIoCtrl.HeaderLength = 28;
    std::memcpy(h.SrbIoCtrl.Signature, platform::kNvmeMiniSignature, 8);
    h.SrbIoCtrl.Timeout = 1000;
    h.SrbIoCtrl.ControlCode = platform::kNvmePassThroughControlCode;
    h.SrbIoCtrl.Length = size - 28;
    h.NVMeCmd[0] = identify ? platform::kNvmeAdminIdentify : platform::kNvmeAdminGetLogPage;
    h.NVMeCmd[1] = identify ? 1 : 0xFFFFFFFF;
    h.NVMeCmd[10] = identify ? 1 : 0x007F0002;
    h.Direction = 2;
    h.ReturnBufferLen = size;
    std::memcpy(buf.data(), &h, sizeof h);
    return buf;
}

TEST(StorageStack, NvmeAnswersThroughTheMiniportOnlyAndNeverAta) {
    TestMachine m(ProfileWithDisks(ThreeDisks()));
    auto port = Open(u"\\\\.\\SCSI2:");
    ASSERT_TRUE(port);
    std::vector<uint8_t> id = NvmeRequest(true);
    uint32_t returned = 0;
    ASSERT_TRUE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, id, id, &returned));
    EXPECT_EQ(returned, 4248u);
    const uint8_t* ctrl = id.data() + 152;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ctrl + 24), 40), std::string("VARNO NV10 512GB") + std::string(24, ' '));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ctrl + 4), 20), "NV0001" + std::string(14, ' '));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ctrl + 64), 8), "E8FK11.5");
    EXPECT_EQ(ctrl[512], 0x66);
    EXPECT_EQ(ctrl[516], 1) << "one namespace";

    std::vector<uint8_t> log = NvmeRequest(false);
    ASSERT_TRUE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, log, log, &returned));
    EXPECT_EQ(returned, 664u);
    const uint8_t* health = log.data() + 152;  // re-taken after each new buffer
    EXPECT_EQ(health[1] | (health[2] << 8), 41 + 273) << "composite temperature in kelvin";
    EXPECT_EQ(health[5], 3);
    EXPECT_EQ(health[48] | (health[49] << 8) | (health[50] << 16), 123456);
    EXPECT_EQ(health[128] | (health[129] << 8), 1200);
    m->Clock().Advance(3 * 3600 * 1000ull);
    log = NvmeRequest(false);
    ASSERT_TRUE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, log, log, &returned));
    health = log.data() + 152;
    EXPECT_EQ(health[128] | (health[129] << 8), 1203) << "power-on hours grow with the clock";

    // Header checks of the miniport request.
    std::vector<uint8_t> bad = NvmeRequest(false);
    bad[24] = 0x70;  // Length 624 against a 664-byte buffer
    EXPECT_FALSE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, bad, bad, &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER);
    bad = NvmeRequest(false);
    bad[0] = 24;  // HeaderLength
    EXPECT_FALSE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, bad, bad, &returned));
    bad = NvmeRequest(false);
    std::memcpy(bad.data() + 4, "SCSIDISK", 8);
    EXPECT_FALSE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, bad, bad, &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_FUNCTION);

    // A command the drive fails completes the call, as a miniport does: the header comes back
    // with the status in the completion entry and a non-zero ReturnCode; no data follow.
    struct Failed {
        const char* what;
        std::function<void(platform::NvmePassThroughHeader&)> change;
        uint32_t statusCode;
        uint32_t statusCodeType;
    };
    const Failed failed[] = {
        {"unknown admin opcode", [](auto& h) { h.NVMeCmd[0] = 0x7E; }, 0x01, 0},
        {"identify of namespace 2", [](auto& h) { h.NVMeCmd[1] = 2; h.NVMeCmd[10] = 0; h.NVMeCmd[0] = 0x06; }, 0x0B, 0},
        {"unknown log page", [](auto& h) { h.NVMeCmd[10] = 0x007F00C0; }, 0x09, 1},
    };
    for (const Failed& f : failed) {
        std::vector<uint8_t> req = NvmeRequest(false);
        platform::NvmePassThroughHeader h;
        std::memcpy(&h, req.data(), sizeof h);
        f.change(h);
        h.NVMeCmd[0] |= 0x002A0000u;  // command identifier 42
        std::memcpy(req.data(), &h, sizeof h);
        std::fill(req.begin() + 152, req.end(), uint8_t{0xEE});
        returned = 0;
        ASSERT_TRUE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, req, req, &returned)) << f.what;
        EXPECT_EQ(returned, 152u) << f.what;
        std::memcpy(&h, req.data(), sizeof h);
        EXPECT_EQ(h.SrbIoCtrl.ReturnCode, 1u) << f.what;
        EXPECT_EQ(h.CplEntry[3] & 0xFFFFu, 42u) << f.what << ": command identifier";
        EXPECT_EQ((h.CplEntry[3] >> 17) & 0xFFu, f.statusCode) << f.what;
        EXPECT_EQ((h.CplEntry[3] >> 25) & 0x7u, f.statusCodeType) << f.what;
        EXPECT_EQ(req[152], 0xEE) << f.what << ": nothing is returned past the header";
        ASSERT_TRUE(m->Devices().LastRequest());
        EXPECT_EQ(m->Devices().LastRequest()->nvmeStatus, (f.statusCodeType << 8) | f.statusCode) << f.what;
    }
    std::vector<uint8_t> good = NvmeRequest(false);
    ASSERT_TRUE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, good, good, &returned));
    platform::NvmePassThroughHeader ok;
    std::memcpy(&ok, good.data(), sizeof ok);
    EXPECT_EQ(ok.SrbIoCtrl.ReturnCode, 0u);
    EXPECT_EQ(ok.CplEntry[3] >> 17, 0u) << "success status";

    AtaReply ata = DataIn(kDrive1, Regs(0xEC));
    EXPECT_FALSE(ata.ok);
    EXPECT_EQ(ata.error, win::ERROR_INVALID_FUNCTION);
    AtaReply usb = DataIn(u"\\\\.\\PhysicalDrive2", Regs(0xEC));
    EXPECT_FALSE(usb.ok) << "a USB disk is there but answers no ATA";
    EXPECT_EQ(usb.error, win::ERROR_INVALID_FUNCTION);
}

TEST(StorageStack, InboxNvmeDriverRefusesTheMiniportRequest) {
    json disks = ThreeDisks();
    disks[1]["nvme"]["driver"] = "inbox";
    TestMachine m(ProfileWithDisks(disks));
    auto port = Open(u"\\\\.\\SCSI2:");
    ASSERT_TRUE(port) << "the port exists";
    std::vector<uint8_t> id = NvmeRequest(true);
    uint32_t returned = 0;
    EXPECT_FALSE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, id, id, &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_FUNCTION);
    ASSERT_TRUE(m->Devices().LastRequest());
    EXPECT_FALSE(m->Devices().LastRequest()->reachedDrive);
}

TEST(StorageStack, InjectedFaultsStrikeAsScripted) {
    json disk = SataDiskJson(0);
    disk["faults"] = json::parse(R"([
        {"on": "open", "times": 1},
        {"on": "ata", "command": 176, "feature": 208, "effect": "abort", "times": 2},
        {"on": "ata", "command": 236, "effect": "short", "bytes": 100},
        {"on": "ioctl", "ioctl": "IOCTL_SCSI_GET_ADDRESS", "effect": "fail", "error": 31}
    ])");
    TestMachine m(ProfileWithDisks(json::array({disk})));
    EXPECT_FALSE(Open(kDrive0));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Open(kDrive0)) << "the open fails only once";

    EXPECT_TRUE(DataIn(kDrive0, SmartRegs(0xD0)).Aborted());
    EXPECT_TRUE(DataIn(kDrive0, SmartRegs(0xD0)).Aborted());
    ASSERT_TRUE(m->Devices().LastRequest());
    EXPECT_FALSE(m->Devices().LastRequest()->reachedDrive);
    EXPECT_FALSE(DataIn(kDrive0, SmartRegs(0xD0)).Aborted()) << "the third read passes";
    EXPECT_FALSE(DataIn(kDrive0, SmartRegs(0xD1)).Aborted()) << "another feature is not matched";

    AtaReply id = DataIn(kDrive0, Regs(0xEC));
    ASSERT_TRUE(id.ok);
    EXPECT_EQ(id.transferLength, 100u);
    EXPECT_EQ(id.returned, 144u);

    auto dev = Open(kDrive0);
    std::vector<uint8_t> addr(8, 0);
    uint32_t returned = 0;
    EXPECT_FALSE(dev->DeviceIoControl(platform::IOCTL_SCSI_GET_ADDRESS, {}, addr, &returned));
    EXPECT_EQ(platform::GetLastError(), 31u);
}

TEST(StorageStack, DiskProfileProblemsNameTheirJsonPath) {
    struct Case {
        std::function<void(json&)> change;
        const char* expected;
    };
    const Case cases[] = {
        {[](json& d) { d["kind"] = "scsi"; }, "$.disks[0].kind: expected one of sata, nvme, usb"},
        {[](json& d) { d["model"] = std::string(41, 'M'); }, "$.disks[0].model: text is longer than 40"},
        {[](json& d) { d["capacityBytes"] = 1000; }, "$.disks[0].capacityBytes: expected a multiple of 512"},
        {[](json& d) { d["colour"] = "red"; }, "$.disks[0].colour: unknown field"},
        {[](json& d) { d["sata"] = {{"smart", {{"attributes", {{{"id", 300}}}}}}}; }, "$.disks[0].sata.smart.attributes[0].id"},
        {[](json& d) { d["sata"] = {{"selfTest", {{"failures", {{{"status", 1}}}}}}}; }, "$.disks[0].sata.selfTest.failures[0].status"},
        {[](json& d) { d["nvme"] = json::object(); }, "$.disks[0].nvme: only a disk of kind nvme"},
        {[](json& d) { d["faults"] = {{{"on", "ata"}}}; }, "$.disks[0].faults[0].command: required field is missing"},
        {[](json& d) { d["sata"] = {{"identifyWords", {{"255", 1}}}}; }, "$.disks[0].sata.identifyWords.255"},
    };
    for (const Case& c : cases) {
        json d = SataDiskJson(0);
        c.change(d);
        auto r = sim::LoadMachineProfile(ProfileWithDisks(json::array({d})).dump(), "t", "test.json");
        ASSERT_FALSE(r.profile) << c.expected;
        EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
    }
    auto twice = sim::LoadMachineProfile(ProfileWithDisks(json::array({SataDiskJson(0), SataDiskJson(0)})).dump(), "t", "t.json");
    ASSERT_FALSE(twice.profile);
    EXPECT_NE(twice.error.find("$.disks[1].number: disk number 0 is used twice"), std::string::npos) << twice.error;
}

TEST(StorageStack, EmbeddedDemoPcHasItsDrives) {
    const sim::EmbeddedProfile* demo = sim::FindEmbeddedProfile("demo");
    ASSERT_NE(demo, nullptr);
    auto r = sim::LoadMachineProfile(demo->text, "demo", "embedded:demo");
    ASSERT_TRUE(r.profile) << r.error;
    TestMachine m(json::parse(demo->text));
    int sata = 0, nvme = 0, usb = 0;
    for (const auto& d : r.profile->disks) {
        sata += d.kind == sim::DiskKind::Sata;
        nvme += d.kind == sim::DiskKind::Nvme;
        usb += d.kind == sim::DiskKind::Usb;
    }
    EXPECT_GE(sata, 3);
    EXPECT_GE(nvme, 1);
    EXPECT_GE(usb, 1);
}

}  // namespace
}  // namespace tarvex::test
