// The Linux PC as a whole machine, opened on this computer with a state directory of the
// test's own: every interface is there, the facts agree with one another, and the program's
// files stay in the state directory. Nothing here sends a command to a disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/linux/linux_machine.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::linuxhost {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the test and puts the old value back afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(LinuxMachine, OpensThisPcWithItsStoresInTheStateDirectory) {
    test::TempDir temp;
    const ScopedVariable platformVariable("TARVEX_PLATFORM", nullptr);
    const ScopedVariable stateVariable("TARVEX_STATE", nullptr);
    const ScopedVariable lcAll("LC_ALL", nullptr);
    const ScopedVariable lcMessages("LC_MESSAGES", nullptr);
    const ScopedVariable lang("LANG", "ko_KR.UTF-8");
    platform::MachineRequest request;
    request.state = (temp.Path() / "state").string();
    request.moduleName = u"tarvexctl.exe";
    request.arguments = u"-a";
    std::string error;
    auto machine = OpenLinuxMachine(request, &error);
    ASSERT_NE(machine, nullptr) << error;
    EXPECT_EQ(machine->StateDirectory(), temp.Path() / "state");
    // Programs started from here find the same PC.
    EXPECT_STREQ(std::getenv("TARVEX_PLATFORM"), "linux");
    EXPECT_EQ(fs::path(std::getenv("TARVEX_STATE")), temp.Path() / "state");

    const platform::Platform& p = machine->Interfaces();
    for (const void* i : {static_cast<const void*>(p.devices), static_cast<const void*>(p.registry),
                          static_cast<const void*>(p.wmi), static_cast<const void*>(p.services),
                          static_cast<const void*>(p.files), static_cast<const void*>(p.volumes),
                          static_cast<const void*>(p.fileVersions), static_cast<const void*>(p.shell),
                          static_cast<const void*>(p.system), static_cast<const void*>(p.clock),
                          static_cast<const void*>(p.windows), static_cast<const void*>(p.dialogs),
                          static_cast<const void*>(p.kernelObjects)}) {
        EXPECT_NE(i, nullptr);
    }

    platform::OsVersionInfoExW version{};
    version.dwOSVersionInfoSize = platform::kOsVersionInfoExWSize;
    ASSERT_TRUE(p.system->GetVersionEx(&version));
    EXPECT_EQ(version.dwMajorVersion, 6u);
    EXPECT_EQ(version.dwMinorVersion, 1u);
    EXPECT_EQ(version.wServicePackMajor, 1u);
    EXPECT_EQ(p.system->GetUserDefaultUILanguage(), 1042);
    EXPECT_NE(p.system->GetCommandLine().find(u"\\Tarvex\\tarvexctl.exe\" -a"), std::u16string::npos);

    // The program's folder, and so its trace file, lands in the state directory.
    const std::u16string module = p.system->GetModuleFileName();
    ASSERT_TRUE(module.ends_with(u"\\Tarvex\\tarvexctl.exe")) << std::string(module.begin(), module.end());
    EXPECT_EQ(machine->HostPath(module.substr(0, module.size() - 4) + u".log"),
              temp.Path() / "state" / "Tarvex" / "tarvexctl.log");
    // The program's own file is the running program.
    EXPECT_EQ(machine->HostPath(module), fs::read_symlink("/proc/self/exe"));
    EXPECT_EQ(machine->HostPath(p.files->GetCurrentDirectory()), temp.Path() / "state" / "Tarvex");
    // The program's drive is no volume of the PC: a TRIM or a report never walks it.
    for (const std::u16string& root : p.volumes->GetLogicalDriveStrings()) {
        EXPECT_NE(root[0], module[0]);
        // Each volume maps onto a mounted file system of this computer.
        auto mount = machine->HostPath(root);
        ASSERT_TRUE(mount.has_value());
        EXPECT_TRUE(fs::is_directory(*mount)) << mount->string();
    }

    // The registry is the persistent store of the state directory.
    platform::RegKey key = platform::kNullRegKey;
    ASSERT_EQ(p.registry->RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\TarvexTest", 0, win::KEY_ALL_ACCESS,
                                         &key, nullptr),
              win::ERROR_SUCCESS);
    p.registry->RegCloseKey(key);
    EXPECT_TRUE(fs::exists(temp.Path() / "state" / "registry.db"));

    // A real PC is not power-cycled by the tool.
    EXPECT_FALSE(machine->PowerCycle(&error));
    EXPECT_FALSE(error.empty());
}

TEST(LinuxMachine, AStateDirectoryThatCannotBeUsedIsOneClearError) {
    test::TempDir temp;
    const ScopedVariable platformVariable("TARVEX_PLATFORM", nullptr);
    const ScopedVariable stateVariable("TARVEX_STATE", nullptr);
    const fs::path file = temp.Path() / "a-file";
    { std::ofstream(file) << "x"; }
    platform::MachineRequest request;
    request.state = file.string();
    std::string error;
    EXPECT_EQ(OpenLinuxMachine(request, &error), nullptr);
    EXPECT_NE(error.find("cannot use the state directory " + file.string()), std::string::npos) << error;
}

}  // namespace
}  // namespace tarvex::linuxhost
