// NVMe admin commands through the "NvmeMini" interface of an NVMe miniport driver, sent to
// the drive's SCSI port device.
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "app/console.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

namespace {

constexpr uint32_t kSrbHeaderLength = 28;
constexpr uint32_t kNvmeTimeout = 1000;

std::unique_ptr<platform::Device> OpenUnshared(std::u16string_view path) {
    return OpenDevice(path, win::GENERIC_READ | win::GENERIC_WRITE, 0, win::FILE_ATTRIBUTE_NORMAL);
}

// Fills the request header and the submission queue entry of one admin command.
void FillRequest(std::vector<uint8_t>& buffer, uint8_t opcode, uint32_t nsid, uint32_t cdw10) {
    platform::NvmePassThroughHeader h{};
    h.SrbIoCtrl.HeaderLength = kSrbHeaderLength;
    std::memcpy(h.SrbIoCtrl.Signature, platform::kNvmeMiniSignature, 8);
    h.SrbIoCtrl.Timeout = kNvmeTimeout;
    h.SrbIoCtrl.ControlCode = platform::kNvmePassThroughControlCode;
    h.SrbIoCtrl.ReturnCode = 0;
    h.SrbIoCtrl.Length = static_cast<uint32_t>(buffer.size()) - kSrbHeaderLength;
    // CDW0: opcode in byte 0; fuse bits and command identifier 0.
    h.NVMeCmd[0] = opcode;
    h.NVMeCmd[1] = nsid;
    h.NVMeCmd[10] = cdw10;
    h.Direction = platform::kNvmeDirectionDeviceToHost;
    h.QueueId = 0;
    h.DataBufferLen = 0;
    h.MetaDataLen = 0;
    h.ReturnBufferLen = static_cast<uint32_t>(buffer.size());
    std::memcpy(buffer.data(), &h, sizeof h);
}

}  // namespace

bool ATACommand::GetScsiPortName(std::u16string_view devicePath, std::u16string* portName) {
    auto device = OpenUnshared(devicePath);
    if (!device) {
        return false;
    }
    platform::ScsiAddress address{};
    uint32_t returned = 0;
    const bool ok = device->DeviceIoControl(platform::IOCTL_SCSI_GET_ADDRESS, {},
                                            std::span(reinterpret_cast<uint8_t*>(&address), sizeof address),
                                            &returned);
    if (ok) {
        *portName = platform::Utf8ToUtf16(fmt::format("\\\\.\\SCSI{}:", address.PortNumber));
    }
    return ok;
}

bool ATACommand::SendNvmeRequest(std::u16string_view devicePath, uint8_t* buffer, uint32_t size) {
    // Without an address the port name stays empty and the open below fails.
    std::u16string port;
    (void)GetScsiPortName(devicePath, &port);
    auto device = OpenUnshared(port);
    if (!device) {
        return false;
    }
    uint32_t returned = 0;
    const std::span<uint8_t> io(buffer, size);
    return device->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, io, io, &returned);
}

bool ATACommand::IdentifyCommand_Controller(std::u16string_view devicePath, uint8_t* buffer4248) {
    std::vector<uint8_t> buffer(platform::kNvmeIdentifyBufferSize, 0);
    FillRequest(buffer, platform::kNvmeAdminIdentify, 1, 0x00000001);
    if (!SendNvmeRequest(devicePath, buffer.data(), static_cast<uint32_t>(buffer.size()))) {
        const uint32_t error = platform::GetLastError();
        if (error == win::ERROR_INVALID_FUNCTION) {
            Trace("IdentifyCommand_Controller failed : ERROR_INVALID_FUNCTION\n");
        } else {
            Trace("IdentifyCommand_Controller failed : %d\n", static_cast<int>(error));
        }
        return false;
    }
    std::memcpy(buffer4248, buffer.data(), buffer.size());
    return true;
}

bool ATACommand::GetLogPageCommand_SMART_Health(std::u16string_view devicePath, uint8_t* log512) {
    std::vector<uint8_t> buffer(platform::kNvmeLogBufferSize, 0);
    FillRequest(buffer, platform::kNvmeAdminGetLogPage, 0xFFFFFFFF, 0x007F0002);
    if (!SendNvmeRequest(devicePath, buffer.data(), static_cast<uint32_t>(buffer.size()))) {
        ConsolePrint(fmt::format("GetLogPageCommand_SMART_Health failed : {}\n", platform::GetLastError()));
        return false;
    }
    std::memcpy(log512, buffer.data() + platform::kNvmeDataOffset, 512);
    return true;
}

}  // namespace tarvex
