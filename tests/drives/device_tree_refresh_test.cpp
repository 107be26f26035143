// The device-tree re-enumeration before a drive rescan: the calls it makes, success only when
// both succeed, and the library freed on every path.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "drives/device_tree_refresh.h"
#include "platform/win32_values.h"
#include "support/fake_devices.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

nlohmann::json WithDeviceTree(const nlohmann::json& tree) {
    nlohmann::json profile = test::BaseProfile();
    profile["deviceTree"] = tree;
    return profile;
}

TEST(ReenumerateDeviceTree, SucceedsOnlyWhenLocateAndReenumerateBothSucceed) {
    struct Case {
        nlohmann::json tree;
        bool result;
        uint64_t reenumerations;
    };
    for (const Case& c : {Case{nlohmann::json::object(), true, 1}, Case{{{"libraryMissing", true}}, false, 0},
                          Case{{{"failLocate", win::CR_NO_SUCH_DEVNODE}}, false, 0},
                          Case{{{"failReenumerate", win::CR_FAILURE}}, false, 0},
                          Case{{{"failReenumerate", win::CR_ACCESS_DENIED}}, false, 0}}) {
        test::TestMachine m(WithDeviceTree(c.tree));
        EXPECT_EQ(ReenumerateDeviceTree(), c.result) << c.tree.dump();
        EXPECT_EQ(m->Devices().DeviceTree().ReenumerationCount(), c.reenumerations) << c.tree.dump();
        EXPECT_EQ(m->Devices().DeviceTree().LoadedLibraries(), 0) << "the library is freed: " << c.tree.dump();
    }
}

// A configuration manager that records its calls and answers as told.
struct Calls {
    std::vector<std::string> log;
    int loaded = 0;
    uint32_t locateResult = win::CR_SUCCESS;
    uint32_t reenumerateResult = win::CR_SUCCESS;
};

class RecordingManager : public platform::ConfigManager {
public:
    explicit RecordingManager(Calls& calls) : calls_(calls) { ++calls_.loaded; }
    ~RecordingManager() override { --calls_.loaded; }
    uint32_t CM_Locate_DevNode(uint32_t* devInst, std::optional<std::u16string_view> deviceId,
                               uint32_t flags) override {
        calls_.log.push_back("locate id=" + std::string(deviceId ? "given" : "none") + " flags=" + std::to_string(flags));
        *devInst = 0x4321;
        return calls_.locateResult;
    }
    uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) override {
        calls_.log.push_back("reenumerate node=" + std::to_string(devInst) + " flags=" + std::to_string(flags));
        return calls_.reenumerateResult;
    }

private:
    Calls& calls_;
};

class RecordingDevices : public test::FakeDevices {
public:
    explicit RecordingDevices(Calls& calls) : calls_(calls) {}
    std::unique_ptr<platform::ConfigManager> LoadConfigManager() override {
        return std::make_unique<RecordingManager>(calls_);
    }

private:
    Calls& calls_;
};

TEST(ReenumerateDeviceTree, LocatesTheRootWithoutAnIdAndReenumeratesTheNodeItGot) {
    test::TestMachine m;
    Calls calls;
    RecordingDevices devices(calls);
    test::WithFakeDevices installed(m->Platform(), devices);
    EXPECT_TRUE(ReenumerateDeviceTree());
    EXPECT_EQ(calls.log, (std::vector<std::string>{"locate id=none flags=0", "reenumerate node=17185 flags=0"}));
    EXPECT_EQ(calls.loaded, 0);

    // A result other than CR_SUCCESS is a failure, whatever its number.
    calls.log.clear();
    calls.reenumerateResult = win::CR_INVALID_POINTER;
    EXPECT_FALSE(ReenumerateDeviceTree());
    EXPECT_EQ(calls.log.size(), 2u);
    calls.log.clear();
    calls.locateResult = 1;  // CR_DEFAULT
    EXPECT_FALSE(ReenumerateDeviceTree());
    EXPECT_EQ(calls.log, std::vector<std::string>{"locate id=none flags=0"}) << "no re-enumeration without a node";
    EXPECT_EQ(calls.loaded, 0);

    // A PC whose devices give no library at all.
    test::FakeDevices none;
    test::WithFakeDevices noLibrary(m->Platform(), none);
    EXPECT_FALSE(ReenumerateDeviceTree());
}

}  // namespace
}  // namespace tarvex
