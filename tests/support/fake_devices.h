#pragma once
// A stand-in for the devices interface that records every open and every request and lets a
// test script the answers: for checking the exact bytes the system puts on the wire.
#include <functional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvex::test {

class FakeDevices : public platform::Devices {
public:
    struct Request {
        std::u16string path;
        uint32_t code = 0;
        std::vector<uint8_t> input;
        std::vector<uint8_t> direct;
        uint32_t directAddressLow = 0;
    };
    struct Open {
        std::u16string path;
        uint32_t access = 0;
        uint32_t share = 0;
    };
    // Fills `output` (and `direct` for a direct request) and returns the call's result. The
    // default answers every request with success and the input echoed back.
    using Answer = std::function<bool(const Request&, std::span<uint8_t> output, uint32_t* returned,
                                      std::span<uint8_t> direct)>;

    std::unique_ptr<platform::Device> CreateFile(std::u16string_view path, uint32_t access, uint32_t shareMode,
                                                 uint32_t disposition, uint32_t flagsAndAttributes) override;
    std::unique_ptr<platform::DeviceInfoSet> SetupDiGetClassDevs(const uint8_t (&)[16], uint32_t) override {
        return nullptr;
    }
    std::unique_ptr<platform::ConfigManager> LoadConfigManager() override { return nullptr; }

    std::vector<Open> opens;
    std::vector<Request> requests;
    std::set<std::u16string> unopenable;
    Answer answer;
    int openHandles = 0;
    // What a raw read from the start of any opened disk returns (a shorter read when a read
    // asks for more); empty: reads fail.
    std::vector<uint8_t> diskBytes;
};

// Installs a copy of the machine's platform with the fake devices in it, for a scope.
class WithFakeDevices {
public:
    WithFakeDevices(const platform::Platform& base, FakeDevices& fake);

private:
    platform::Platform platform_;
    platform::ScopedPlatform installed_;
};

}  // namespace tarvex::test
