#include "support/fake_devices.h"

#include <cstring>

#include "platform/last_error.h"
#include "platform/win32_values.h"

namespace tarvex::test {

namespace {

class FakeDevice : public platform::Device {
public:
    FakeDevice(FakeDevices& owner, std::u16string path) : owner_(owner), path_(std::move(path)) { ++owner_.openHandles; }
    ~FakeDevice() override { --owner_.openHandles; }

    bool DeviceIoControl(uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output,
                         uint32_t* bytesReturned, std::span<uint8_t> directData) override {
        FakeDevices::Request r;
        r.path = path_;
        r.code = code;
        r.input.assign(input.begin(), input.end());
        r.direct.assign(directData.begin(), directData.end());
        r.directAddressLow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(directData.data()));
        owner_.requests.push_back(r);
        uint32_t returned = 0;
        bool ok = true;
        if (owner_.answer) {
            ok = owner_.answer(r, output, &returned, directData);
        } else {
            // Echo the input into the output, as a driver that changed nothing would.
            const size_t n = std::min(r.input.size(), output.size());
            std::memmove(output.data(), r.input.data(), n);
            returned = static_cast<uint32_t>(output.size());
        }
        if (bytesReturned != nullptr) {
            *bytesReturned = returned;
        }
        if (!ok) {
            platform::SetLastError(win::ERROR_INVALID_FUNCTION);
        }
        return ok;
    }
    // Reads from the owner's disk bytes; without any, reading fails.
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        if (owner_.diskBytes.empty()) {
            return false;
        }
        const size_t n = std::min<size_t>(size, owner_.diskBytes.size());
        std::memcpy(buffer, owner_.diskBytes.data(), n);
        *bytesRead = static_cast<uint32_t>(n);
        return true;
    }
    bool SetPosition(uint64_t offset) override { return offset == 0 && !owner_.diskBytes.empty(); }

private:
    FakeDevices& owner_;
    std::u16string path_;
};

}  // namespace

std::unique_ptr<platform::Device> FakeDevices::CreateFile(std::u16string_view path, uint32_t access,
                                                          uint32_t shareMode, uint32_t, uint32_t) {
    opens.push_back(Open{std::u16string(path), access, shareMode});
    if (unopenable.count(std::u16string(path)) != 0 || path.empty()) {
        platform::SetLastError(win::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return std::make_unique<FakeDevice>(*this, std::u16string(path));
}

WithFakeDevices::WithFakeDevices(const platform::Platform& base, FakeDevices& fake)
    : platform_([&] {
          platform::Platform p = base;
          p.devices = &fake;
          return p;
      }()),
      installed_(platform_) {}

}  // namespace tarvex::test
