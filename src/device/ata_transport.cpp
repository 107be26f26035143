// The request forms that carry an ATA command to a drive: buffered ATA pass-through (by path,
// by drive number, packed registers), direct pass-through, and IDE pass-through on systems
// without ATA pass-through.
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

using platform::AtaPassThroughEx;

namespace {

constexpr uint8_t kSmartCommand = 0xB0;

std::unique_ptr<platform::Device> OpenForCommands(std::u16string_view path) {
    return OpenDevice(path, win::GENERIC_READ | win::GENERIC_WRITE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, 0);
}

std::u16string PhysicalDrivePath(int driveNumber) {
    // Formatted narrow and converted through the ANSI code page, as the name is built.
    const std::string narrow = fmt::format("\\\\.\\PhysicalDrive{}", driveNumber);
    return platform::Current().system->AnsiToWide(narrow);
}

AtaTaskFile MakeTaskFile(uint8_t features, uint8_t count, uint8_t lbaLow, uint8_t lbaMid, uint8_t lbaHigh,
                         uint8_t device, uint8_t command) {
    return AtaTaskFile{features, count, lbaLow, lbaMid, lbaHigh, device, command, 0};
}

AtaTaskFile UnpackTaskFile(uint32_t low, uint32_t high) {
    return MakeTaskFile(static_cast<uint8_t>(low), static_cast<uint8_t>(low >> 8), static_cast<uint8_t>(low >> 16),
                        static_cast<uint8_t>(low >> 24), static_cast<uint8_t>(high),
                        static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high >> 16));
}

// SMART commands need the signature 4Fh/C2h in LBA mid/high; the unpacked forms also pass a
// SMART subcommand's parameter (the self-test number) in LBA low through the count.
void ApplySmartRule(AtaTaskFile& tf, bool unpacked) {
    if (tf.command != kSmartCommand) {
        return;
    }
    tf.lbaMid = 0x4F;
    tf.lbaHigh = 0xC2;
    if (unpacked) {
        tf.lbaLow = tf.sectorCount;
    }
}

uint32_t Low32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

std::unique_ptr<platform::Device> ATACommand::OpenPhysicalDrive(int driveNumber) {
    return OpenForCommands(PhysicalDrivePath(driveNumber));
}

int ATACommand::SendBuffered(std::unique_ptr<platform::Device> device, uint32_t timeout, const AtaTaskFile& taskFile,
                             uint8_t* buffer, uint32_t length, uint16_t flags) {
    std::vector<uint8_t> request(platform::kAtaPassThroughDataOffset + platform::kAtaPassThroughMaxData, 0);
    AtaPassThroughEx header{};
    header.Length = platform::kAtaPassThroughHeaderSize;
    header.TimeOutValue = timeout;
    header.DataBufferOffset = platform::kAtaPassThroughDataOffset;
    if (length > 0) {
        header.AtaFlags = flags;
        header.DataTransferLength = length;
        if (buffer != nullptr) {
            std::memcpy(request.data() + platform::kAtaPassThroughDataOffset, buffer, length);
        }
    }
    header.CurrentTaskFile = taskFile;
    std::memcpy(request.data(), &header, sizeof header);
    if (!device) {
        return 0;
    }
    const uint32_t size = platform::kAtaPassThroughDataOffset + length;
    uint32_t returned = 0;
    const std::span<uint8_t> io(request.data(), size);
    const bool ok = device->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH, io, io, &returned);
    device.reset();
    // The data is copied back from the request, which is exactly `length` bytes long here,
    // whatever the driver claims it returned.
    if (ok && length > 0 && buffer != nullptr) {
        std::memcpy(buffer, request.data() + platform::kAtaPassThroughDataOffset, length);
    }
    return ok ? 1 : 0;
}

int ATACommand::SendIdePassThrough(std::unique_ptr<platform::Device> device, const AtaTaskFile& taskFile,
                                   uint8_t* buffer, uint32_t length) {
    if (osVersion.osvi.dwMajorVersion <= 4) {
        return 0;
    }
    const uint32_t size = length + 15;
    std::vector<uint8_t> block(size, 0);
    platform::IdePassThroughHeader header{taskFile, length};
    std::memcpy(block.data(), &header, sizeof header);
    if (buffer != nullptr && length > 0) {
        std::memcpy(block.data() + sizeof header, buffer, length);
    }
    if (!device) {
        return 0;
    }
    uint32_t returned = 0;
    const std::span<uint8_t> io(block.data(), size);
    const bool ok = device->DeviceIoControl(platform::IOCTL_IDE_PASS_THROUGH, io, io, &returned);
    device.reset();
    if (ok && buffer != nullptr && length > 0) {
        std::memcpy(buffer, block.data() + sizeof header, length);
    }
    return ok ? 1 : 0;
}

int ATACommand::SendAtaCommandPhysicalDrive(std::u16string_view path, uint8_t device, uint8_t command,
                                            uint8_t features, uint8_t count, uint8_t lbaLow, uint8_t lbaMid,
                                            uint8_t lbaHigh, uint8_t* buffer, uint32_t length, uint16_t flags) {
    const uint32_t bufferAddress = Low32(buffer);
    Trace("Entering ATACommand::SendAtaCommandPhysicalDrive(%s, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, "
          "0x%X, 0x%X)",
          path, device, command, features, count, lbaLow, lbaMid, lbaHigh, bufferAddress, length, flags);
    AtaTaskFile tf = MakeTaskFile(features, count, lbaLow, lbaMid, lbaHigh, device, command);
    ApplySmartRule(tf, true);
    int result = 0;
    if (!osVersion.PassThroughCapable) {
        result = SendIdePassThrough(OpenForCommands(path), tf, buffer, length);
    } else if (length <= platform::kAtaPassThroughMaxData) {
        result = SendBuffered(OpenForCommands(path), kTimeoutByPath, tf, buffer, length, flags);
    }
    Trace("Exit ATACommand::SendAtaCommandPhysicalDrive(%s, 0x%X, 0x%X, 0x%X, 0x%X,", path, device, command, features,
          count);
    Trace("0x%X, 0x%X, 0x%X, 0x%X, 0x%X)::bRet:0x%X", tf.lbaMid, tf.lbaHigh, bufferAddress, length, flags, result);
    return result;
}

int ATACommand::SendAtaCommandPhysicalDrive(int driveNumber, uint8_t device, uint8_t command, uint8_t features,
                                            uint8_t count, uint8_t lbaLow, uint8_t lbaMid, uint8_t lbaHigh,
                                            uint8_t* buffer, uint32_t length, uint16_t flags) {
    AtaTaskFile tf = MakeTaskFile(features, count, lbaLow, lbaMid, lbaHigh, device, command);
    ApplySmartRule(tf, true);
    int result = 0;
    if (!osVersion.PassThroughCapable) {
        result = SendIdePassThrough(OpenPhysicalDrive(driveNumber), tf, buffer, length);
    } else if (length <= platform::kAtaPassThroughMaxData) {
        result = SendBuffered(OpenPhysicalDrive(driveNumber), kTimeoutByNumber, tf, buffer, length, flags);
    }
    Trace("Exit ATACommand::SendAtaCommandPhysicalDrive(0x%X, 0x%X, 0x%X, 0x%X, 0x%X,", driveNumber, device, command,
          features, count);
    Trace("0x%X, 0x%X, 0x%X, 0x%X, 0x%X)::bRet:0x%X", tf.lbaMid, tf.lbaHigh, Low32(buffer), length, flags, result);
    return result;
}

int ATACommand::SendAtaCommandPD(std::u16string_view path, uint32_t packedLow, uint32_t packedHigh, uint8_t* buffer,
                                 uint32_t length, uint16_t flags) {
    Trace("Entering ATACommand::ATACommand::SendAtaCommandPD(%s", path);
    AtaTaskFile tf = UnpackTaskFile(packedLow, packedHigh);
    ApplySmartRule(tf, false);
    int result = 0;
    if (!osVersion.PassThroughCapable) {
        result = SendIdePassThrough(OpenForCommands(path), tf, buffer, length);
    } else if (length <= platform::kAtaPassThroughMaxData) {
        result = SendBuffered(OpenForCommands(path), kTimeoutByPath, tf, buffer, length, flags);
    }
    Trace("Exit ATACommand::SendAtaCommandPD(%s", path);
    return result;
}

int ATACommand::SendAtaCommandDirect(int driveNumber, uint8_t dataOut, const uint8_t* source, uint8_t* destination,
                                     uint32_t* lengthInOut, uint32_t packedLow, uint32_t packedHigh) {
    if (lengthInOut == nullptr) {
        return 0;
    }
    const uint32_t length = *lengthInOut;
    // length + 16 bytes, and the data starts at the first 16-byte boundary after 16 bytes in.
    std::vector<uint8_t> block(static_cast<size_t>(length) + 16, 0);
    const uintptr_t start = reinterpret_cast<uintptr_t>(block.data());
    uint8_t* aligned = block.data() + (((start + 16) & ~static_cast<uintptr_t>(15)) - start);
    if (dataOut && source != nullptr && length > 0) {
        std::memcpy(aligned, source, length);
    }
    AtaPassThroughEx header{};
    header.Length = platform::kAtaPassThroughHeaderSize;
    header.AtaFlags = dataOut ? 0x15 : 0x13;
    header.DataTransferLength = length;
    header.TimeOutValue = kTimeoutDirect;
    header.DataBufferOffset = Low32(aligned);
    header.CurrentTaskFile = UnpackTaskFile(packedLow, packedHigh);
    auto device = OpenPhysicalDrive(driveNumber);
    if (!device) {
        return 0;
    }
    uint32_t returned = 0;
    auto* raw = reinterpret_cast<uint8_t*>(&header);
    const std::span<uint8_t> io(raw, sizeof header);
    const bool ok = device->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH_DIRECT, io, io, &returned,
                                            std::span<uint8_t>(aligned, length));
    device.reset();
    if (!ok || (header.CurrentTaskFile.command & platform::kAtaStatusErr) != 0) {
        return 0;
    }
    // A driver that reports more than was asked never makes us copy past either buffer.
    const uint32_t reported = header.DataTransferLength;
    if (!dataOut && destination != nullptr) {
        std::memcpy(destination, aligned, std::min(reported, length));
    }
    *lengthInOut = std::min(reported, length);
    return 1;
}

}  // namespace tarvex
