// NVMe admin commands through the "NvmeMini" interface of an NVMe miniport driver, sent to
// the drive's SCSI port device.
#include <array>
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "app/console.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/byte_span.h"
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

// The status field of a completion entry: bits 31..17 of its fourth dword (the phase tag is
// bit 16). Zero is success.
uint32_t NvmeCompletionStatus(const platform::NvmePassThroughHeader& h) { return h.CplEntry[3] >> 17; }

}  // namespace

bool ATACommand::GetScsiPortName(std::u16string_view devicePath, std::u16string* portName) {
    // Never left as it was: a failed query gives no name, so nothing is opened by mistake.
    portName->clear();
    auto device = OpenUnshared(devicePath);
    if (!device) {
        return false;
    }
    std::array<uint8_t, sizeof(platform::ScsiAddress)> reply{};
    uint32_t returned = 0;
    if (!device->DeviceIoControl(platform::IOCTL_SCSI_GET_ADDRESS, {}, reply, &returned)) {
        return false;
    }
    const auto address =
        platform::ByteReader(std::span<const uint8_t>(reply).first(std::min<size_t>(returned, reply.size())))
            .ReadRecord<platform::ScsiAddress>();
    if (!address) {
        Trace("GetScsiPortName: short SCSI address, %u bytes", returned);
        platform::SetLastError(win::ERROR_INVALID_DATA);
        return false;
    }
    *portName = platform::Utf8ToUtf16(fmt::format("\\\\.\\SCSI{}:", address->PortNumber));
    return true;
}

int ATACommand::SendNvmeRequest(std::u16string_view devicePath, uint8_t* buffer, uint32_t size) {
    std::u16string port;
    if (!GetScsiPortName(devicePath, &port)) {
        return kNvmeCallFailed;
    }
    auto device = OpenUnshared(port);
    if (!device) {
        return kNvmeCallFailed;
    }
    uint32_t returned = 0;
    const std::span<uint8_t> io(buffer, size);
    if (!device->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, io, io, &returned)) {
        return kNvmeCallFailed;
    }
    device.reset();
    // The call completed; the reply counts only when it is whole and both the driver
    // (ReturnCode) and the drive (the status field of the completion entry) report success.
    const platform::ByteReader reply(std::span<const uint8_t>(buffer, std::min(returned, size)));
    const auto header = reply.ReadRecord<platform::NvmePassThroughHeader>();
    if (!header || returned < size) {
        Trace("NVMe request: short reply, %u of %u bytes", returned, size);
        return kNvmeShortReply;
    }
    const uint32_t status = NvmeCompletionStatus(*header);
    if (status != 0 || header->SrbIoCtrl.ReturnCode != 0) {
        Trace("NVMe request: command failed, status 0x%X, ReturnCode %u", status, header->SrbIoCtrl.ReturnCode);
        return kNvmeCommandFailed;
    }
    return kNvmeOk;
}

bool ATACommand::IdentifyCommand_Controller(std::u16string_view devicePath, uint8_t* buffer4248) {
    std::vector<uint8_t> buffer(platform::kNvmeIdentifyBufferSize, 0);
    FillRequest(buffer, platform::kNvmeAdminIdentify, 1, 0x00000001);
    const int sent = SendNvmeRequest(devicePath, buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (sent == kNvmeCallFailed) {
        const uint32_t error = platform::GetLastError();
        if (error == win::ERROR_INVALID_FUNCTION) {
            Trace("IdentifyCommand_Controller failed : ERROR_INVALID_FUNCTION\n");
        } else {
            Trace("IdentifyCommand_Controller failed : %d\n", static_cast<int>(error));
        }
        return false;
    }
    if (sent != kNvmeOk) {
        return false;
    }
    std::memcpy(buffer4248, buffer.data(), buffer.size());
    return true;
}

bool ATACommand::GetLogPageCommand_SMART_Health(std::u16string_view devicePath, uint8_t* log512) {
    std::vector<uint8_t> buffer(platform::kNvmeLogBufferSize, 0);
    FillRequest(buffer, platform::kNvmeAdminGetLogPage, 0xFFFFFFFF, 0x007F0002);
    const int sent = SendNvmeRequest(devicePath, buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (sent == kNvmeCallFailed) {
        ConsolePrint(fmt::format("GetLogPageCommand_SMART_Health failed : {}\n", platform::GetLastError()));
        return false;
    }
    if (sent != kNvmeOk) {
        return false;
    }
    std::memcpy(log512, buffer.data() + platform::kNvmeDataOffset, 512);
    return true;
}

}  // namespace tarvex
