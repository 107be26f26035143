// The request forms that carry an ATA command to a drive: buffered ATA pass-through (by path,
// by drive number, and the form that keeps LBA low as given), direct pass-through, and IDE
// pass-through on systems without ATA pass-through.
#include <cstring>
#include <new>
#include <vector>

#include <fmt/format.h>

#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/byte_span.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

using platform::AtaPassThroughEx;
using platform::ByteReader;
using platform::ByteWriter;
using platform::IdePassThroughHeader;

namespace {

std::unique_ptr<platform::Device> OpenForCommands(std::u16string_view path) {
    return OpenDevice(path, win::GENERIC_READ | win::GENERIC_WRITE, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, 0);
}

std::u16string PhysicalDrivePath(int driveNumber) {
    // Formatted narrow and converted through the ANSI code page, as the name is built.
    const std::string narrow = fmt::format("\\\\.\\PhysicalDrive{}", driveNumber);
    return platform::Current().system->AnsiToWide(narrow);
}

// SMART commands need the signature 4Fh/C2h in LBA mid/high; the unpacked forms also pass a
// SMART subcommand's parameter (the self-test number) in LBA low through the count.
AtaTaskFile ApplySmartRule(AtaTaskFile tf, bool countInLbaLow) {
    if (tf.command != platform::kAtaCmdSmart) {
        return tf;
    }
    tf.lbaMid = platform::kSmartLbaMid;
    tf.lbaHigh = platform::kSmartLbaHigh;
    if (countInLbaLow) {
        tf.lbaLow = tf.sectorCount;
    }
    tf.reserved = 0;
    return tf;
}

bool IsDataIn(uint32_t length, uint16_t flags) { return length > 0 && (flags & platform::ATA_FLAGS_DATA_IN) != 0; }

uint32_t Low32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

std::unique_ptr<platform::Device> ATACommand::OpenPhysicalDrive(int driveNumber) {
    return OpenForCommands(PhysicalDrivePath(driveNumber));
}

std::unique_ptr<platform::Device> ATACommand::OpenTarget(const DriveTarget& target) {
    return target.byNumber ? OpenPhysicalDrive(target.number) : OpenForCommands(target.path);
}

int ATACommand::SendTaskFile(const DriveTarget& target, uint32_t timeout, const AtaTaskFile& taskFile, uint8_t* buffer,
                             uint32_t length, uint16_t flags, AtaTaskFile* registersOut) {
    // Both forms carry at most one 32768-byte transfer; a longer one is refused before the
    // drive is opened (32-bit sizes computed from it could wrap otherwise).
    if (length > platform::kAtaPassThroughMaxData) {
        Trace("SendAtaCommand: transfer of %u bytes refused (at most %u)", length, platform::kAtaPassThroughMaxData);
        return 0;
    }
    // The one place where the request form is chosen: this object's own classification.
    if (!osVersion.PassThroughCapable) {
        return SendIdePassThrough(target, taskFile, buffer, length, IsDataIn(length, flags), registersOut);
    }
    return SendBuffered(target, timeout, taskFile, buffer, length, flags, registersOut);
}

int ATACommand::SendBuffered(const DriveTarget& target, uint32_t timeout, const AtaTaskFile& taskFile,
                             uint8_t* buffer, uint32_t length, uint16_t flags, AtaTaskFile* registersOut) {
    std::vector<uint8_t> request(platform::kAtaPassThroughDataOffset + platform::kAtaPassThroughMaxData, 0);
    const ByteWriter writer(request);
    AtaPassThroughEx header{};
    header.Length = platform::kAtaPassThroughHeaderSize;
    header.TimeOutValue = timeout;
    header.DataBufferOffset = platform::kAtaPassThroughDataOffset;
    if (length > 0) {
        header.AtaFlags = flags;
        header.DataTransferLength = length;
        if (buffer != nullptr &&
            !writer.CopyIn(platform::kAtaPassThroughDataOffset, std::span<const uint8_t>(buffer, length))) {
            return 0;
        }
    }
    header.CurrentTaskFile = taskFile;
    if (!writer.WriteRecord(0, header)) {
        return 0;
    }
    auto device = OpenTarget(target);
    if (!device) {
        return 0;
    }
    const uint32_t size = platform::kAtaPassThroughDataOffset + length;
    uint32_t returned = 0;
    const std::span<uint8_t> io(request.data(), size);
    const bool ok = device->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH, io, io, &returned);
    device.reset();
    if (!ok) {
        return 0;
    }
    // The returned header tells what came back: without it nothing did, and a data-in reply
    // shorter than asked would leave zeros that are not the drive's.
    const ByteReader reply(std::span<const uint8_t>(request.data(), std::min<size_t>(returned, size)));
    const auto back = reply.ReadRecord<AtaPassThroughEx>(0);
    if (!back) {
        Trace("SendAtaCommand: reply without its header (%u bytes)", returned);
        return 0;
    }
    if (IsDataIn(length, flags) &&
        (back->DataTransferLength < length || !reply.Has(platform::kAtaPassThroughDataOffset, length))) {
        Trace("SendAtaCommand: short reply, %u of %u bytes", back->DataTransferLength, length);
        return 0;
    }
    if (registersOut != nullptr) {
        *registersOut = back->CurrentTaskFile;
    }
    if (length > 0 && buffer != nullptr) {
        std::memcpy(buffer, request.data() + platform::kAtaPassThroughDataOffset, length);
    }
    return 1;
}

int ATACommand::SendIdePassThrough(const DriveTarget& target, const AtaTaskFile& taskFile, uint8_t* buffer,
                                   uint32_t length, bool dataIn, AtaTaskFile* registersOut) {
    if (osVersion.osvi.dwMajorVersion <= 4) {
        return 0;
    }
    // The caller bounds length by 32768, so length + 15 cannot wrap.
    const uint32_t size = length + 15;
    std::vector<uint8_t> block(size, 0);
    const ByteWriter writer(block);
    if (!writer.WriteRecord(0, IdePassThroughHeader{taskFile, length})) {
        return 0;
    }
    if (buffer != nullptr && length > 0 &&
        !writer.CopyIn(sizeof(IdePassThroughHeader), std::span<const uint8_t>(buffer, length))) {
        return 0;
    }
    auto device = OpenTarget(target);
    if (!device) {
        return 0;
    }
    uint32_t returned = 0;
    const std::span<uint8_t> io(block.data(), size);
    const bool ok = device->DeviceIoControl(platform::IOCTL_IDE_PASS_THROUGH, io, io, &returned);
    device.reset();
    if (!ok) {
        return 0;
    }
    const ByteReader reply(std::span<const uint8_t>(block.data(), std::min<size_t>(returned, size)));
    const auto back = reply.ReadRecord<IdePassThroughHeader>(0);
    if (!back) {
        Trace("SendAtaCommand: reply without its header (%u bytes)", returned);
        return 0;
    }
    if (dataIn && (back->dataLength < length || !reply.Has(sizeof(IdePassThroughHeader), length))) {
        Trace("SendAtaCommand: short reply, %u of %u bytes", back->dataLength, length);
        return 0;
    }
    if (registersOut != nullptr) {
        *registersOut = back->taskFile;
    }
    if (buffer != nullptr && length > 0) {
        std::memcpy(buffer, block.data() + sizeof(IdePassThroughHeader), length);
    }
    return 1;
}

int ATACommand::SendAtaCommandPhysicalDrive(std::u16string_view path, const AtaTaskFile& taskFile, uint8_t* buffer,
                                            uint32_t length, uint16_t flags, AtaTaskFile* registersOut) {
    const uint32_t bufferAddress = Low32(buffer);
    Trace("Entering ATACommand::SendAtaCommandPhysicalDrive(%s, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, "
          "0x%X, 0x%X)",
          path, taskFile.device, taskFile.command, taskFile.features, taskFile.sectorCount, taskFile.lbaLow,
          taskFile.lbaMid, taskFile.lbaHigh, bufferAddress, length, flags);
    const AtaTaskFile tf = ApplySmartRule(taskFile, true);
    const int result =
        SendTaskFile(DriveTarget{path, 0, false}, kTimeoutByPath, tf, buffer, length, flags, registersOut);
    Trace("Exit ATACommand::SendAtaCommandPhysicalDrive(%s, 0x%X, 0x%X, 0x%X, 0x%X,", path, tf.device, tf.command,
          tf.features, tf.sectorCount);
    Trace("0x%X, 0x%X, 0x%X, 0x%X, 0x%X)::bRet:0x%X", tf.lbaMid, tf.lbaHigh, bufferAddress, length, flags, result);
    return result;
}

int ATACommand::SendAtaCommandPhysicalDrive(int driveNumber, const AtaTaskFile& taskFile, uint8_t* buffer,
                                            uint32_t length, uint16_t flags, AtaTaskFile* registersOut) {
    const AtaTaskFile tf = ApplySmartRule(taskFile, true);
    const int result =
        SendTaskFile(DriveTarget{{}, driveNumber, true}, kTimeoutByNumber, tf, buffer, length, flags, registersOut);
    Trace("Exit ATACommand::SendAtaCommandPhysicalDrive(0x%X, 0x%X, 0x%X, 0x%X, 0x%X,", driveNumber, tf.device,
          tf.command, tf.features, tf.sectorCount);
    Trace("0x%X, 0x%X, 0x%X, 0x%X, 0x%X)::bRet:0x%X", tf.lbaMid, tf.lbaHigh, Low32(buffer), length, flags, result);
    return result;
}

int ATACommand::SendAtaCommandPD(std::u16string_view path, const AtaTaskFile& taskFile, uint8_t* buffer,
                                 uint32_t length, uint16_t flags, AtaTaskFile* registersOut) {
    Trace("Entering ATACommand::ATACommand::SendAtaCommandPD(%s", path);
    const AtaTaskFile tf = ApplySmartRule(taskFile, false);
    const int result =
        SendTaskFile(DriveTarget{path, 0, false}, kTimeoutByPath, tf, buffer, length, flags, registersOut);
    Trace("Exit ATACommand::SendAtaCommandPD(%s", path);
    return result;
}

int ATACommand::SendAtaCommandDirect(int driveNumber, uint8_t dataOut, const uint8_t* source, uint8_t* destination,
                                     uint32_t* lengthInOut, const AtaTaskFile& taskFile) {
    if (lengthInOut == nullptr) {
        return 0;
    }
    const uint32_t length = *lengthInOut;
    // length + 16 bytes, and the data starts at the first 16-byte boundary after 16 bytes in;
    // the sum is formed in 64 bits so that no length wraps it.
    const uint64_t blockSize = uint64_t{length} + 16;
    std::vector<uint8_t> block;
    try {
        block.assign(static_cast<size_t>(blockSize), 0);
    } catch (const std::bad_alloc&) {
        Trace("SendAtaCommandDirect: no memory for %u bytes", length);
        return 0;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(block.data());
    const size_t alignedOffset = static_cast<size_t>(((start + 16) & ~static_cast<uintptr_t>(15)) - start);
    const ByteWriter blockWriter(block);
    const auto data = blockWriter.Bytes(alignedOffset, length);
    if (!data) {
        return 0;
    }
    if (dataOut && source != nullptr && length > 0) {
        std::memcpy(data->data(), source, length);
    }
    AtaPassThroughEx header{};
    header.Length = platform::kAtaPassThroughHeaderSize;
    header.AtaFlags = dataOut ? 0x15 : 0x13;
    header.DataTransferLength = length;
    header.TimeOutValue = kTimeoutDirect;
    header.DataBufferOffset = Low32(data->data());
    header.CurrentTaskFile = taskFile;
    auto device = OpenPhysicalDrive(driveNumber);
    if (!device) {
        return 0;
    }
    uint32_t returned = 0;
    auto* raw = reinterpret_cast<uint8_t*>(&header);
    const std::span<uint8_t> io(raw, sizeof header);
    const bool ok = device->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH_DIRECT, io, io, &returned, *data);
    device.reset();
    if (!ok) {
        return 0;
    }
    if (returned < sizeof header) {
        Trace("SendAtaCommandDirect: reply without its header (%u bytes)", returned);
        return 0;
    }
    if ((header.CurrentTaskFile.command & platform::kAtaStatusErr) != 0) {
        return 0;
    }
    // A driver that reports more than was asked never makes us copy past either buffer; one
    // that reports less has not filled the buffer, so the zeros there are not the drive's.
    const uint32_t reported = std::min(header.DataTransferLength, length);
    *lengthInOut = reported;
    if (!dataOut && reported < length) {
        Trace("SendAtaCommandDirect: short reply, %u of %u bytes", reported, length);
        return 0;
    }
    if (!dataOut && destination != nullptr) {
        std::memcpy(destination, data->data(), length);
    }
    return 1;
}

}  // namespace tarvex
