// The Linux PC's service control manager over a scripted systemctl, the shell's missing
// Windows programs, and the UI language from the locale variables.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/linux/linux_locale.h"
#include "platform/linux/linux_services.h"
#include "platform/linux/linux_shell.h"
#include "platform/win32_values.h"

namespace tarvex::linuxhost {
namespace {

namespace win = tarvex::win;

// A systemctl that keeps one unit's state and records every command line.
struct FakeSystemctl {
    bool installed = true;  // systemctl exists
    bool unitKnown = true;
    std::string active = "inactive";
    std::string fileState = "disabled";
    int failWith = 0;  // exit code of the changing commands
    std::vector<std::string> calls;

    CommandRunner Runner() {
        return [this](const std::vector<std::string>& argv) -> std::optional<CommandResult> {
            std::string line;
            for (const std::string& a : argv) {
                line += (line.empty() ? "" : " ") + a;
            }
            calls.push_back(line);
            if (!installed) {
                return std::nullopt;
            }
            if (argv.at(1) == "show") {
                return CommandResult{0, "LoadState=" + std::string(unitKnown ? "loaded" : "not-found") +
                                            "\nActiveState=" + active + "\nUnitFileState=" + fileState + "\n"};
            }
            if (failWith != 0) {
                return CommandResult{failWith, ""};
            }
            if (argv[1] == "start") {
                active = "active";
            } else if (argv[1] == "stop") {
                active = "inactive";
            } else if (argv[1] == "enable") {
                fileState = "enabled";
            } else if (argv[1] == "disable") {
                fileState = "disabled";
            } else if (argv[1] == "mask") {
                fileState = "masked";
            } else if (argv[1] == "unmask") {
                fileState = "disabled";
            }
            return CommandResult{0, ""};
        };
    }
};

TEST(LinuxServices, UnitNamesComeFromTheServiceName) {
    EXPECT_EQ(UnitNameOfService(u"VARNO Velmora Service"), "varno-velmora.service");
    EXPECT_EQ(UnitNameOfService(u"  Odd__Name!! 2 "), "odd-name-2.service");
    EXPECT_EQ(UnitNameOfService(u"Service"), "service.service");
}

TEST(LinuxServices, AMissingUnitOrAMissingSystemctlIsAServiceThatDoesNotExist) {
    for (bool installed : {true, false}) {
        FakeSystemctl systemctl;
        systemctl.installed = installed;
        systemctl.unitKnown = false;
        LinuxServices services(systemctl.Runner(), true);
        auto manager = services.OpenSCManager(win::SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        EXPECT_EQ(manager->OpenService(u"VARNO Velmora Service", win::SERVICE_ALL_ACCESS), nullptr);
        EXPECT_EQ(platform::GetLastError(), win::ERROR_SERVICE_DOES_NOT_EXIST);
        ASSERT_FALSE(systemctl.calls.empty());
        EXPECT_EQ(systemctl.calls[0],
                  "systemctl show --property=LoadState,ActiveState,UnitFileState varno-velmora.service");
    }
}

TEST(LinuxServices, StatesStartsStopsAndStartTypesGoThroughSystemctl) {
    FakeSystemctl systemctl;
    LinuxServices services(systemctl.Runner(), true);
    auto service = services.OpenSCManager(0)->OpenService(u"VARNO Velmora Service", win::SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    platform::ServiceStatus status;
    ASSERT_TRUE(service->QueryServiceStatus(&status));
    EXPECT_EQ(status.currentState, win::SERVICE_STOPPED);

    // Stopping a stopped service is refused as Windows refuses it.
    EXPECT_FALSE(service->ControlService(win::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_SERVICE_NOT_ACTIVE);

    ASSERT_TRUE(service->StartService());
    EXPECT_EQ(systemctl.calls.back(), "systemctl start --no-block varno-velmora.service");
    ASSERT_TRUE(service->QueryServiceStatus(&status));
    EXPECT_EQ(status.currentState, win::SERVICE_RUNNING);
    EXPECT_EQ(status.controlsAccepted, win::SERVICE_ACCEPT_STOP);
    EXPECT_FALSE(service->StartService());
    EXPECT_EQ(platform::GetLastError(), win::ERROR_SERVICE_ALREADY_RUNNING);

    ASSERT_TRUE(service->ControlService(win::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.currentState, win::SERVICE_STOP_PENDING);
    EXPECT_EQ(systemctl.active, "inactive");

    ASSERT_TRUE(service->ChangeServiceStartType(win::SERVICE_AUTO_START));
    EXPECT_EQ(systemctl.fileState, "enabled");
    ASSERT_TRUE(service->ChangeServiceStartType(win::SERVICE_DISABLED));
    EXPECT_EQ(systemctl.fileState, "masked");
    // A disabled service cannot be started.
    EXPECT_FALSE(service->StartService());
    EXPECT_EQ(platform::GetLastError(), win::ERROR_SERVICE_DISABLED);
    ASSERT_TRUE(service->ChangeServiceStartType(win::SERVICE_DEMAND_START));
    EXPECT_EQ(systemctl.fileState, "disabled");
}

TEST(LinuxServices, ARefusedChangeIsAccessDeniedForAnUnprivilegedUser) {
    for (bool privileged : {false, true}) {
        FakeSystemctl systemctl;
        systemctl.failWith = 1;
        LinuxServices services(systemctl.Runner(), privileged);
        auto service = services.OpenSCManager(0)->OpenService(u"VARNO Velmora Service", 0);
        ASSERT_NE(service, nullptr);
        EXPECT_FALSE(service->StartService());
        EXPECT_EQ(platform::GetLastError(),
                  privileged ? win::ERROR_SERVICE_REQUEST_TIMEOUT : win::ERROR_ACCESS_DENIED);
        EXPECT_EQ(systemctl.fileState, "disabled");
    }
}

TEST(LinuxServices, RunCommandCapturesOutputAndTellsAMissingProgram) {
    auto echo = RunCommand({"sh", "-c", "printf 'a\\nb'; exit 3"});
    ASSERT_TRUE(echo.has_value());
    EXPECT_EQ(echo->output, "a\nb");
    EXPECT_EQ(echo->exitCode, 3);
    EXPECT_FALSE(RunCommand({"tarvex-no-such-program-here"}).has_value());
}

TEST(LinuxShell, WindowsProgramsAreNotStartedAndDiskpartSaysItIsMissing) {
    LinuxShell shell;
    EXPECT_LE(shell.WinExec("fsutil behavior set DisableDeleteNotify 0", 0), 31u);

    std::unique_ptr<platform::PipeEnd> readEnd;
    std::unique_ptr<platform::PipeEnd> writeEnd;
    ASSERT_TRUE(shell.CreatePipe(&readEnd, &writeEnd, true));
    platform::ProcessStart start;
    start.commandLine = u"C:\\Windows\\System32\\DISKPART.EXE /s .//tmpxxxvarno.bat";
    start.standardOutput = writeEnd.get();
    ASSERT_TRUE(shell.CreateProcess(start));
    writeEnd.reset();
    std::string text;
    char buffer[64];
    uint32_t got = 0;
    while (readEnd->Read(buffer, sizeof buffer, &got) && got > 0) {
        text.append(buffer, got);
    }
    EXPECT_EQ(text, kNoDiskpartText);

    start.commandLine = u"\"C:\\Tools\\other.exe\" /x";
    EXPECT_FALSE(shell.CreateProcess(start));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST(LinuxLocale, TheMessagesLocaleGivesTheLanguage) {
    EXPECT_EQ(MessagesLocale(std::nullopt, std::nullopt, std::nullopt), "C");
    EXPECT_EQ(MessagesLocale(std::string(), std::string("ja_JP.UTF-8"), std::string("en_US.UTF-8")), "ja_JP.UTF-8");
    EXPECT_EQ(MessagesLocale(std::string("ko_KR"), std::string("ja_JP"), std::nullopt), "ko_KR");

    const std::map<std::string, uint16_t> expected{
        {"C", 1033},          {"POSIX", 1033},       {"C.UTF-8", 1033}, {"en_US.UTF-8", 1033},
        {"ko_KR.UTF-8", 1042}, {"ja_JP.eucJP", 1041}, {"zh_CN.GB18030", 2052}, {"zh_TW.UTF-8", 1028},
        {"zh_SG", 4100},      {"ru_RU.KOI8-R", 1049}, {"de_DE@euro", 1031},  {"xx_YY", 1033}, {"zh", 2052},
    };
    for (const auto& [locale, id] : expected) {
        EXPECT_EQ(UiLanguageOfLocale(locale), id) << locale;
    }
}

}  // namespace
}  // namespace tarvex::linuxhost
