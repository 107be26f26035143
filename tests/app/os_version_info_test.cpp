#include <gtest/gtest.h>

#include "app/os_version_info.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

struct OsCase {
    uint32_t major, minor;
    const char* servicePack;
    int passThrough, windows8;
    bool fatal;
};

TEST(OsVersionInfo, ClassifiesEveryWindowsVersion) {
    const OsCase cases[] = {
        {4, 0, "Service Pack 6", 0, 0, false}, {5, 0, "Service Pack 4", 0, 0, false},
        {5, 1, "Service Pack 1", 0, 0, false}, {5, 1, "Service Pack 2", 1, 0, false},
        {5, 1, "Service Pack 3", 1, 0, false}, {5, 1, "Service Pack 2, v.3264", 1, 0, false},
        {5, 1, "", 0, 0, true},                {5, 1, "Service Pack x", 0, 0, true},
        {5, 2, "", 1, 0, false},               {6, 0, "Service Pack 2", 1, 0, false},
        {6, 1, "Service Pack 1", 1, 0, false}, {6, 2, "", 1, 1, false},
        {6, 3, "", 1, 0, false},               {10, 0, "", 1, 0, false},
    };
    for (const OsCase& c : cases) {
        nlohmann::json profile = test::BaseProfile();
        profile["os"] = {{"major", c.major}, {"minor", c.minor}, {"servicePack", c.servicePack}};
        test::TestMachine m(profile);
        ResetStartupFatalForTesting();
        const std::string what = std::to_string(c.major) + "." + std::to_string(c.minor) + " \"" + c.servicePack + "\"";
        OsVersionInfo os;
        EXPECT_EQ(os.osvi.dwMajorVersion, c.major) << what;
        EXPECT_EQ(os.osvi.dwMinorVersion, c.minor) << what;
        EXPECT_EQ(os.PassThroughCapable, c.passThrough) << what;
        EXPECT_EQ(os.IsWindows8, c.windows8) << what;
        EXPECT_EQ(os.Fatal(), c.fatal) << what;
        EXPECT_EQ(StartupFatalRequested(), c.fatal) << what;
    }
    ResetStartupFatalForTesting();
}

TEST(OsVersionInfo, FallsBackToThePlainRecord) {
    nlohmann::json profile = test::BaseProfile();
    profile["os"] = {{"major", 5}, {"minor", 1}, {"servicePack", "Service Pack 3"}, {"versionInfoEx", false}};
    test::TestMachine m(profile);
    OsVersionInfo os;
    EXPECT_EQ(os.osvi.dwOSVersionInfoSize, platform::kOsVersionInfoWSize);
    EXPECT_EQ(os.PassThroughCapable, 1) << "the service-pack text is in the plain record too";
}

}  // namespace
}  // namespace tarvex
