// The configuration manager of the emulated PC: its library, the root node, re-enumeration,
// the arguments Windows refuses, and the failures a profile scripts.
#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/sim/machine_profile.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::test {
namespace {

nlohmann::json WithDeviceTree(const nlohmann::json& tree) {
    nlohmann::json profile = BaseProfile();
    profile["deviceTree"] = tree;
    return profile;
}

TEST(SimDeviceTree, TheRootIsLocatedAndReenumeratedAndBadArgumentsAreRefused) {
    TestMachine m;
    auto& tree = m->Devices().DeviceTree();
    {
        auto manager = platform::Current().devices->LoadConfigManager();
        ASSERT_TRUE(manager);
        EXPECT_EQ(tree.LoadedLibraries(), 1);
        uint32_t root = 77;
        ASSERT_EQ(manager->CM_Locate_DevNode(&root, std::nullopt, 0), win::CR_SUCCESS);
        EXPECT_NE(root, 0u);
        uint32_t again = 0;
        EXPECT_EQ(manager->CM_Locate_DevNode(&again, u"", 0), win::CR_SUCCESS) << "an empty id is the root too";
        EXPECT_EQ(again, root);
        EXPECT_EQ(manager->CM_Locate_DevNode(&again, u"htree\\root\\0", 0), win::CR_SUCCESS) << "its id, any case";
        EXPECT_EQ(again, root);

        uint32_t node = 77;
        EXPECT_EQ(manager->CM_Locate_DevNode(nullptr, std::nullopt, 0), win::CR_INVALID_POINTER);
        EXPECT_EQ(manager->CM_Locate_DevNode(&node, std::nullopt, 8), win::CR_INVALID_FLAG);
        EXPECT_EQ(node, 0u) << "a failed look-up gives no node";
        EXPECT_EQ(manager->CM_Locate_DevNode(&node, u"PCI\\VEN_0000&DEV_0000\\0", 0), win::CR_NO_SUCH_DEVNODE);
        EXPECT_EQ(manager->CM_Reenumerate_DevNode(root + 1, 0), win::CR_INVALID_DEVNODE);
        EXPECT_EQ(manager->CM_Reenumerate_DevNode(0, 0), win::CR_INVALID_DEVNODE);
        EXPECT_EQ(manager->CM_Reenumerate_DevNode(root, 8), win::CR_INVALID_FLAG);
        EXPECT_EQ(tree.ReenumerationCount(), 0u) << "refused calls re-enumerate nothing";

        EXPECT_EQ(manager->CM_Reenumerate_DevNode(root, 0), win::CR_SUCCESS);
        EXPECT_EQ(manager->CM_Reenumerate_DevNode(root, 1), win::CR_SUCCESS) << "CM_REENUMERATE_SYNCHRONOUS";
        EXPECT_EQ(tree.ReenumerationCount(), 2u);

        auto second = platform::Current().devices->LoadConfigManager();
        EXPECT_EQ(tree.LoadedLibraries(), 2) << "each load counts until it is freed";
    }
    EXPECT_EQ(tree.LoadedLibraries(), 0) << "freed with the objects";
}

TEST(SimDeviceTree, TheProfileScriptsAMissingLibraryOrFailingCalls) {
    {
        TestMachine m(WithDeviceTree({{"libraryMissing", true}}));
        platform::SetLastError(0);
        EXPECT_FALSE(platform::Current().devices->LoadConfigManager());
        EXPECT_EQ(platform::GetLastError(), win::ERROR_MOD_NOT_FOUND);
        EXPECT_EQ(m->Devices().DeviceTree().LoadedLibraries(), 0);
    }
    {
        TestMachine m(WithDeviceTree({{"failLocate", win::CR_FAILURE}}));
        auto manager = platform::Current().devices->LoadConfigManager();
        ASSERT_TRUE(manager);
        uint32_t root = 77;
        EXPECT_EQ(manager->CM_Locate_DevNode(&root, std::nullopt, 0), win::CR_FAILURE);
        EXPECT_EQ(root, 0u);
    }
    {
        TestMachine m(WithDeviceTree({{"failReenumerate", win::CR_ACCESS_DENIED}}));
        auto manager = platform::Current().devices->LoadConfigManager();
        ASSERT_TRUE(manager);
        uint32_t root = 0;
        ASSERT_EQ(manager->CM_Locate_DevNode(&root, std::nullopt, 0), win::CR_SUCCESS);
        EXPECT_EQ(manager->CM_Reenumerate_DevNode(root, 0), win::CR_ACCESS_DENIED);
        EXPECT_EQ(m->Devices().DeviceTree().ReenumerationCount(), 0u);
    }

    struct Bad {
        nlohmann::json tree;
        const char* error;
    };
    for (const Bad& b : {Bad{{{"failLocate", 0}}, "$.deviceTree.failLocate: expected an integer from 1 to 58"},
                         Bad{{{"failReenumerate", 0x3B}}, "$.deviceTree.failReenumerate: expected an integer"},
                         Bad{{{"failLocate", "CR_FAILURE"}}, "$.deviceTree.failLocate"},
                         Bad{{{"libraryMissing", 1}}, "$.deviceTree.libraryMissing"},
                         Bad{{{"library", "missing"}}, "$.deviceTree.library"},
                         Bad{nlohmann::json::array(), "$.deviceTree"}}) {
        const auto loaded = sim::LoadMachineProfile(WithDeviceTree(b.tree).dump(), "test", "test.json");
        EXPECT_FALSE(loaded.profile) << b.tree.dump();
        EXPECT_NE(loaded.error.find(std::string("test.json: ") + b.error), std::string::npos) << loaded.error;
    }
}

}  // namespace
}  // namespace tarvex::test
