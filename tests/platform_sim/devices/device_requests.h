#pragma once
// Helpers of the emulated-drive tests: small disk profiles and the request buffers the
// program sends, built byte by byte.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/ata_requests.h"
#include "platform/devices.h"
#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/platform.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::test {

inline nlohmann::json SataDiskJson(int number = 0) {
    return {{"number", number},
            {"kind", "sata"},
            {"model", "VARNO TL30A 256GB"},
            {"serial", "VR1234567890"},
            {"firmware", "1.08"},
            {"capacityBytes", 256060514304ull}};
}

inline nlohmann::json ProfileWithDisks(const nlohmann::json& disks) {
    nlohmann::json p = BaseProfile();
    p["disks"] = disks;
    return p;
}

inline std::unique_ptr<platform::Device> Open(const std::u16string& path) {
    return platform::Current().devices->CreateFile(path, win::GENERIC_READ | win::GENERIC_WRITE,
                                                   win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0);
}

struct AtaReply {
    bool ok = false;
    uint32_t error = 0;
    uint32_t returned = 0;
    platform::AtaTaskFile regs{};  // status in `command`, error in `features`
    uint32_t transferLength = 0;
    std::vector<uint8_t> data;
    [[nodiscard]] bool Aborted() const { return (regs.command & platform::kAtaStatusErr) != 0; }
};

inline platform::AtaTaskFile Regs(uint8_t command, uint8_t features = 0, uint8_t count = 0, uint8_t lbaLow = 0,
                                  uint8_t lbaMid = 0, uint8_t lbaHigh = 0, uint8_t device = 0xA0) {
    return {features, count, lbaLow, lbaMid, lbaHigh, device, command, 0};
}

inline platform::AtaTaskFile SmartRegs(uint8_t feature, uint8_t count = 0, uint8_t lbaLow = 0) {
    return Regs(0xB0, feature, count, lbaLow, 0x4F, 0xC2, 0);
}

// The buffered ATA pass-through as the program builds it: header, filler, data at 44; the
// same buffer is input and output.
inline AtaReply SendAta(const std::u16string& path, platform::AtaTaskFile regs, uint16_t flags, uint32_t length,
                        const std::vector<uint8_t>& out = {}) {
    AtaReply r;
    auto dev = Open(path);
    if (!dev) {
        r.error = platform::GetLastError();
        return r;
    }
    std::vector<uint8_t> buf(platform::kAtaPassThroughDataOffset + length, 0);
    platform::AtaPassThroughEx h{};
    h.Length = 40;
    h.AtaFlags = length > 0 ? flags : 0;
    h.DataTransferLength = length;
    h.TimeOutValue = 2;
    h.DataBufferOffset = platform::kAtaPassThroughDataOffset;
    h.CurrentTaskFile = regs;
    std::memcpy(buf.data(), &h, sizeof h);
    std::copy(out.begin(), out.end(), buf.begin() + platform::kAtaPassThroughDataOffset);
    r.ok = dev->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH, buf, buf, &r.returned);
    r.error = r.ok ? 0 : platform::GetLastError();
    std::memcpy(&h, buf.data(), sizeof h);
    r.regs = h.CurrentTaskFile;
    r.transferLength = h.DataTransferLength;
    r.data.assign(buf.begin() + platform::kAtaPassThroughDataOffset, buf.end());
    return r;
}

inline AtaReply DataIn(const std::u16string& path, platform::AtaTaskFile regs, uint32_t length = 512) {
    return SendAta(path, regs, platform::ATA_FLAGS_DATA_IN, length);
}

inline AtaReply DataOut(const std::u16string& path, platform::AtaTaskFile regs, const std::vector<uint8_t>& data) {
    return SendAta(path, regs, platform::ATA_FLAGS_DATA_OUT, static_cast<uint32_t>(data.size()), data);
}

inline AtaReply NoData(const std::u16string& path, platform::AtaTaskFile regs) {
    return SendAta(path, regs, platform::ATA_FLAGS_DRDY_REQUIRED, 0);
}

inline uint16_t Word(const std::vector<uint8_t>& page, int w) {
    return static_cast<uint16_t>(page[2 * w] | (page[2 * w + 1] << 8));
}

inline uint8_t Sum(const std::vector<uint8_t>& page) {
    uint8_t s = 0;
    for (size_t i = 0; i < 512; ++i) {
        s = static_cast<uint8_t>(s + page[i]);
    }
    return s;
}

// A 512-byte security block: identifier (0 user, 1 master) and the password at bytes 2..33.
inline std::vector<uint8_t> PasswordBlock(const std::string& pw, uint8_t word0Low = 0) {
    std::vector<uint8_t> b(512, 0);
    b[0] = word0Low;
    std::copy(pw.begin(), pw.end(), b.begin() + 2);
    return b;
}

inline const std::u16string kDrive0 = u"\\\\.\\PhysicalDrive0";
inline const std::u16string kDrive1 = u"\\\\.\\PhysicalDrive1";

}  // namespace tarvex::test
