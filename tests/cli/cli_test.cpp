// tarvexctl as a user runs it: a child process, its exit code, stdout and stderr.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/test_machine.h"

namespace {

using CliRun = tarvex::test::ChildRun;

// Runs tarvexctl with `args` (already shell-quoted) and an environment prefix.
CliRun Tarvexctl(const std::string& args, const std::string& env = "", const std::string& cwd = "") {
    return tarvex::test::RunChild((cwd.empty() ? std::string() : "cd '" + cwd + "' && ") +
                                  "env -u TARVEX_MACHINE -u TARVEX_STATE -u TARVEX_SPEED -u TARVEX_PLATFORM " + env + " '" TARVEXCTL_PATH
                                  "' " + args);
}

class CliTest : public ::testing::Test {
protected:
    std::string State() const { return "--state '" + (dir_.Path() / "state").string() + "'"; }
    std::string WriteProfile(const std::string& name, const std::string& text) {
        auto path = dir_.Path() / name;
        std::ofstream(path) << text;
        return path.string();
    }
    tarvex::test::TempDir dir_;
};

TEST_F(CliTest, MachineShowsTheDemoPc) {
    CliRun r = Tarvexctl(State() + " machine");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("demo (embedded:demo)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("6.1.7601 Service Pack 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("PassThroughCapable   1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("IsWindows8           0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1033 (0x0409), tag en-US"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Build number         Q30D1431"), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(CliTest, JsonIsOneVersionedDocument) {
    CliRun r = Tarvexctl(State() + " --json machine");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["formatVersion"], 1);
    EXPECT_EQ(doc["command"], "machine");
    EXPECT_EQ(doc["os"]["major"], 6);
    EXPECT_EQ(doc["os"]["servicePack"], "Service Pack 1");
    EXPECT_EQ(doc["passThroughCapable"], true);
    EXPECT_EQ(doc["isWindows8"], false);
    EXPECT_EQ(doc["uiLanguage"]["tag"], "en-US");
    EXPECT_EQ(doc["build"]["number"], "Q30D1431");
    const std::string traceHost = doc["trace"]["hostPath"];
    const std::string trace = tarvex::test::ReadHostFile(traceHost);
    EXPECT_NE(trace.find(" Build number:Q30D1431, Creation Time(UTC):2017 3 13 20 49!\r\n"), std::string::npos)
        << trace;
}

TEST_F(CliTest, MalformedProfileIsOneLineAndExitCodeTwo) {
    const std::string path = WriteProfile("broken.json", R"({"formatVersion": 1, "os": {"major": "six", "minor": 1},
        "uiLanguage": 1033, "program": {"path": "C:\\T\\Tarvex.exe"}})");
    CliRun r = Tarvexctl(State() + " --machine '" + path + "' machine");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "tarvexctl: " + path + ": $.os.major: expected an integer from 0 to 255, found a string\n");
    EXPECT_TRUE(r.out.empty());

    CliRun json = Tarvexctl(State() + " --json --machine '" + path + "' machine");
    EXPECT_EQ(json.exitCode, 2);
    EXPECT_EQ(nlohmann::json::parse(json.out)["error"]["exitCode"], 2);
}

TEST_F(CliTest, EnvironmentNamesTheMachineAndArgumentsWin) {
    const std::string xp = WriteProfile("xp.json", R"({"formatVersion": 1,
        "os": {"major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 1"},
        "uiLanguage": 2052, "program": {"path": "C:\\T\\Tarvex.exe"}})");
    CliRun fromEnv = Tarvexctl("--json machine", "TARVEX_MACHINE='" + xp + "' TARVEX_STATE='" +
                                                  (dir_.Path() / "xp-state").string() + "'");
    ASSERT_EQ(fromEnv.exitCode, 0) << fromEnv.err;
    auto doc = nlohmann::json::parse(fromEnv.out);
    EXPECT_EQ(doc["machine"]["name"], "xp");
    EXPECT_EQ(doc["passThroughCapable"], false);
    EXPECT_EQ(doc["uiLanguage"]["tag"], "zh-CN");
    EXPECT_EQ(doc["build"]["number"].get<std::string>().size(), 8u)
        << "unpinned, the number comes from the host program file's time";

    CliRun overridden = Tarvexctl(State() + " --machine demo --json machine", "TARVEX_MACHINE='" + xp + "'");
    ASSERT_EQ(overridden.exitCode, 0) << overridden.err;
    const auto demo = nlohmann::json::parse(overridden.out)["machine"];
    EXPECT_EQ(demo["name"], "demo");
    EXPECT_EQ(demo["source"], "embedded:demo");
    EXPECT_EQ(demo["description"].get<std::string>().rfind("Demo PC: Windows 7 Professional SP1", 0), 0u)
        << "the profile's description: " << demo["description"];
    EXPECT_EQ(doc["machine"]["source"], xp);

    CliRun xdg = Tarvexctl("--json machine", "XDG_STATE_HOME='" + (dir_.Path() / "xdg").string() + "'");
    ASSERT_EQ(xdg.exitCode, 0) << xdg.err;
    EXPECT_EQ(nlohmann::json::parse(xdg.out)["machine"]["stateDirectory"],
              (dir_.Path() / "xdg" / "tarvex" / "demo").string());
}

TEST_F(CliTest, XpWithoutServicePackNumberEndsWithCodeOne) {
    const std::string xp = WriteProfile("xp-rtm.json", R"({"formatVersion": 1, "os": {"major": 5, "minor": 1},
        "uiLanguage": 1033, "program": {"path": "C:\\T\\Tarvex.exe"}})");
    CliRun r = Tarvexctl(State() + " --machine '" + xp + "' machine");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
}

TEST_F(CliTest, CommandLineErrorsGiveSixtyFour) {
    EXPECT_EQ(Tarvexctl(State()).exitCode, 64);
    EXPECT_EQ(Tarvexctl(State() + " frobnicate").exitCode, 64);
    EXPECT_EQ(Tarvexctl(State() + " --bogus machine").exitCode, 64);
    EXPECT_EQ(Tarvexctl("machine --state").exitCode, 64);
    EXPECT_EQ(Tarvexctl(State() + " machine extra").exitCode, 64);
    CliRun help = Tarvexctl("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(CliTest, IdentifyAndSmartShowTheDemoDrives) {
    CliRun sata = Tarvexctl(State() + " --json identify --disk 0");
    ASSERT_EQ(sata.exitCode, 0) << sata.err;
    auto id = nlohmann::json::parse(sata.out);
    EXPECT_EQ(id["identity"]["model"], "VARNO TL30A 256GB");
    EXPECT_EQ(id["identity"]["sataRevision"], "SATA 3.1");
    EXPECT_EQ(id["identity"]["linkSpeed"], "6.0 Gb/s");
    EXPECT_EQ(id["identity"]["wwn"].get<std::string>().size(), 16u);
    EXPECT_GT(id["identity"]["maxLba"].get<uint64_t>(), 0u);

    CliRun raw = Tarvexctl(State() + " --json identify --disk 0 --raw");
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    auto words = nlohmann::json::parse(raw.out)["rawWords"];
    ASSERT_EQ(words.size(), 256u);
    EXPECT_EQ(words[255].get<int>() & 0xFF, 0xA5) << "the integrity word's signature";

    CliRun smart = Tarvexctl(State() + " --json smart --disk 1");
    ASSERT_EQ(smart.exitCode, 0) << smart.err;
    auto doc = nlohmann::json::parse(smart.out);
    EXPECT_EQ(doc["nameTable"], "SmartNamesJmf608");
    bool sawLifeLeft = false;
    for (const auto& row : doc["attributes"]) {
        if (row["id"] == 231) {
            sawLifeLeft = row["name"] == "Drive Life %";
        }
    }
    EXPECT_TRUE(sawLifeLeft) << smart.out;

    CliRun nvme = Tarvexctl(State() + " --json smart --nvme --disk 2");
    ASSERT_EQ(nvme.exitCode, 0) << nvme.err;
    auto log = nlohmann::json::parse(nvme.out)["healthLog"];
    EXPECT_GT(log["compositeTemperatureKelvin"].get<int>(), 273);

    CliRun usb = Tarvexctl(State() + " identify --disk 4");
    EXPECT_EQ(usb.exitCode, 3) << "a USB disk answers no ATA command";
    EXPECT_EQ(Tarvexctl(State() + " identify").exitCode, 64);
    EXPECT_EQ(Tarvexctl(State() + " smart --disk x").exitCode, 64);
}

}  // namespace

namespace {

TEST_F(CliTest, TheBackendComesFromTarvexPlatform) {
    // "sim" and nothing are the emulated PC; anything unknown is a machine error that names it.
    EXPECT_EQ(Tarvexctl(State() + " scan", "TARVEX_PLATFORM=sim").out, Tarvexctl(State() + " scan").out);
    CliRun bogus = Tarvexctl(State() + " scan", "TARVEX_PLATFORM=windows");
    EXPECT_EQ(bogus.exitCode, 2);
    EXPECT_NE(bogus.err.find("TARVEX_PLATFORM: unknown backend \"windows\""), std::string::npos) << bogus.err;
}

TEST_F(CliTest, ScanSysinfoAndVolumesShowTheDemoPc) {
    CliRun scan = Tarvexctl(State() + " --json scan");
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    auto drives = nlohmann::json::parse(scan.out)["drives"];
    ASSERT_EQ(drives.size(), 4u) << "the USB stick is not listed";
    EXPECT_EQ(drives[0]["model"], "VARNO TL30A 256GB");
    EXPECT_EQ(drives[0]["capacityGB"], 256);
    EXPECT_EQ(drives[2]["interface"], "NVMe");
    EXPECT_EQ(drives[3]["diskNumber"], 3);

    CliRun info = Tarvexctl(State() + " --json sysinfo");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    auto doc = nlohmann::json::parse(info.out);
    EXPECT_EQ(doc["toolVersion"], "0.1.0") << "the program is installed as SSDVelmora beside itself";
    EXPECT_EQ(doc["memoryModules"].size(), 2u);
    ASSERT_EQ(doc["controllers"].size(), 1u);
    EXPECT_EQ(doc["controllers"][0]["classCode"], "010601");
    std::vector<int> numbers;
    for (const auto& d : doc["controllers"][0]["attachedDevices"]) {
        numbers.push_back(d["physicalDriveIndex"]);
    }
    EXPECT_EQ(numbers, (std::vector<int>{0, 1, 3})) << "the scan ran first";
    EXPECT_NE(doc["os"].get<std::string>().find("\n x64"), std::string::npos);

    CliRun volumes = Tarvexctl(State() + " --json volumes --disk 0");
    ASSERT_EQ(volumes.exitCode, 0) << volumes.err;
    auto list = nlohmann::json::parse(volumes.out)["volumes"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["deviceId"], "C:");
    EXPECT_EQ(list[1]["deviceId"], "D:");
    EXPECT_EQ(Tarvexctl(State() + " volumes").exitCode, 64);
}

}  // namespace

namespace {

TEST_F(CliTest, HealthShowsThePageFiguresAndExitsByStatus) {
    CliRun sata = Tarvexctl(State() + " --json health --drive 0");
    ASSERT_EQ(sata.exitCode, 0) << sata.err;
    auto doc = nlohmann::json::parse(sata.out);
    EXPECT_EQ(doc["status"], 1);
    EXPECT_EQ(doc["totalWrittenText"], "6.39TB");
    EXPECT_GT(doc["attributes"].size(), 5u);
    CliRun nvme = Tarvexctl(State() + " health --disk 2");
    EXPECT_EQ(nvme.exitCode, 4) << "an NVMe drive has no attribute thresholds: caution";
    EXPECT_NE(nvme.out.find("Remaining life"), std::string::npos);
    EXPECT_EQ(Tarvexctl(State() + " health --drive 9").exitCode, 3);
    EXPECT_EQ(Tarvexctl(State() + " health").exitCode, 64);
}

}  // namespace

namespace {

TEST_F(CliTest, AlertsCanBeChangedOnlyWhileTheServiceIsStopped) {
    CliRun fresh = Tarvexctl(State() + " --json alerts");
    ASSERT_EQ(fresh.exitCode, 0) << fresh.err;
    EXPECT_EQ(nlohmann::json::parse(fresh.out)["temperatureOver"], 70);
    CliRun locked = Tarvexctl(State() + " alerts --temperature 75");
    EXPECT_EQ(locked.exitCode, 3) << "the demo PC's service runs";
    EXPECT_NE(locked.err.find("service off"), std::string::npos) << locked.err;

    CliRun off = Tarvexctl(State() + " service off");
    ASSERT_EQ(off.exitCode, 0) << off.err;
    EXPECT_EQ(off.out,
              "Stopping Velmora Service, all operations are not allowed in the mean time!\n"
              "Velmora Service is stopped successfully!\n"
              "VARNO Velmora Service: stopped\n");
    CliRun set = Tarvexctl(State() + " --json alerts --temperature 75 --life 250");
    ASSERT_EQ(set.exitCode, 0) << set.err;
    auto doc = nlohmann::json::parse(set.out);
    EXPECT_EQ(doc["temperatureOver"], 75);
    EXPECT_EQ(doc["estimatedLifeUnder"], 100);
    CliRun bad = Tarvexctl(State() + " alerts --temperature 75C");
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_EQ(bad.out, "error input\n") << "the page's message box, on standard output like every other";
    EXPECT_NE(bad.err.find("--temperature takes a whole number, found '75C'"), std::string::npos) << bad.err;
    CliRun blank = Tarvexctl(State() + " --json alerts --life '7 5'");
    EXPECT_EQ(blank.exitCode, 64);
    EXPECT_EQ(nlohmann::json::parse(blank.out)["messages"], nlohmann::json::array({"error input"}));
    EXPECT_EQ(nlohmann::json::parse(Tarvexctl(State() + " --json alerts").out)["temperatureOver"], 75)
        << "nothing stored from the bad input";

    CliRun on = Tarvexctl(State() + " --json service on");
    ASSERT_EQ(on.exitCode, 0) << on.err;
    EXPECT_EQ(nlohmann::json::parse(on.out)["state"], "running");
    EXPECT_EQ(Tarvexctl(State() + " service status").out, "VARNO Velmora Service: running\n");
}

TEST_F(CliTest, ServiceStatusOfAPcWithoutTheService) {
    const std::string profile = WriteProfile("bare.json", R"({"formatVersion": 1,
        "os": {"major": 6, "minor": 1, "build": 7601, "servicePack": "Service Pack 1"}, "uiLanguage": 1033,
        "program": {"path": "C:\\T\\Tarvex.exe"}})");
    CliRun r = Tarvexctl(State() + " --machine '" + profile + "' service status");
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.err.find("OpenService failed w/err 0x00000424"), std::string::npos) << r.err;

    // Without the service the thresholds stay locked, and the refusal says why.
    CliRun alerts = Tarvexctl(State() + " --machine '" + profile + "' alerts --temperature 60");
    EXPECT_EQ(alerts.exitCode, 3) << alerts.out;
    EXPECT_NE(alerts.err.find("the monitoring service (VARNO Velmora Service) is not installed on this PC, so the "
                              "thresholds stay locked"),
              std::string::npos)
        << alerts.err;
}

TEST_F(CliTest, ServiceOffThatDoesNotStopSaysWhyAndFails) {
    const std::string profile = WriteProfile("slow.json", R"({"formatVersion": 1,
        "os": {"major": 6, "minor": 1, "build": 7601, "servicePack": "Service Pack 1"}, "uiLanguage": 1033,
        "program": {"path": "C:\\T\\Tarvex.exe"},
        "services": [{"name": "VARNO Velmora Service", "startType": "auto", "state": "running",
                      "stopSeconds": 3600}]})");
    CliRun r = Tarvexctl(State() + " --machine '" + profile + "' service off", "TARVEX_SPEED=100");
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(r.out,
              "Stopping Velmora Service, all operations are not allowed in the mean time!\n"
              "Velmora Service could not be stopped: it did not stop in time (error 1053).\n"
              "VARNO Velmora Service: stop pending\n");
}

TEST_F(CliTest, SelfTestWaitsForItsEndAndShowsTheResult) {
    CliRun r = Tarvexctl(State() + " selftest --drive 0 short --wait", "TARVEX_SPEED=2000");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Not on a terminal: no bar, but a line per step, rising to 100, then the result.
    const std::string done = "Diagnotics quick scan is done successsfully!\n";
    ASSERT_GE(r.out.size(), done.size());
    EXPECT_EQ(r.out.substr(r.out.size() - done.size()), done);
    std::istringstream lines(r.out.substr(0, r.out.size() - done.size()));
    std::string line;
    int previous = -1;
    int steps = 0;
    while (std::getline(lines, line)) {
        int percent = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "Quick Diagnostics Scan %d %%", &percent), 1) << line;
        EXPECT_GT(percent, previous) << "each line is a new step: " << r.out;
        previous = percent;
        ++steps;
    }
    EXPECT_GE(steps, 2) << r.out;
    EXPECT_EQ(previous, 100) << r.out;

    CliRun json = Tarvexctl(State() + " --json selftest --disk 2 extended --wait", "TARVEX_SPEED=2000");
    EXPECT_EQ(json.exitCode, 6) << "the NVMe drive cannot run the ATA self-test";
    auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["result"], 104);
    EXPECT_EQ(doc["messages"], nlohmann::json::array({"Diagnotics full scan fails!"}));
}

TEST_F(CliTest, ASelfTestStartedByOneRunIsSeenAndAbortedByTheNext) {
    // Fast enough for the start's own waits, slow enough that the 20-minute test outlasts the
    // runs that look at it (the time between runs counts at this speed too).
    CliRun start = Tarvexctl(State() + " selftest --drive 1 extended", "TARVEX_SPEED=10");
    ASSERT_EQ(start.exitCode, 0) << start.err;
    EXPECT_NE(start.out.find("Self-test routine in progress"), std::string::npos) << start.out;
    // The running PC keeps its clock speed: a run at another one is refused.
    CliRun otherSpeed = Tarvexctl(State() + " selftest --drive 1 status");
    EXPECT_EQ(otherSpeed.exitCode, 2) << otherSpeed.out;
    EXPECT_NE(otherSpeed.err.find("runs at clock speed 10,"), std::string::npos) << otherSpeed.err;
    const std::string fast = "TARVEX_SPEED=10";
    CliRun status = Tarvexctl(State() + " --json selftest --drive 1 status", fast);
    ASSERT_EQ(status.exitCode, 0) << status.err;
    EXPECT_EQ(nlohmann::json::parse(status.out)["selfTest"]["running"], true);
    CliRun abort = Tarvexctl(State() + " selftest --drive 1 abort", fast);
    ASSERT_EQ(abort.exitCode, 0) << abort.err;
    EXPECT_EQ(abort.out, "VARNO VQRB77 128GB (disk 1): The self-test routine was aborted by the host.\n");
    EXPECT_EQ(Tarvexctl(State() + " selftest --drive 1 --wait status", fast).exitCode, 64);

    // The PC stays on between runs; only a power cycle cuts a running test short (and may
    // bring it up at another speed).
    ASSERT_EQ(Tarvexctl(State() + " selftest --drive 1 short", fast).exitCode, 0);
    ASSERT_EQ(Tarvexctl(State() + " machine --power-cycle").exitCode, 0);
    EXPECT_EQ(Tarvexctl(State() + " selftest --drive 1 status").out,
              "VARNO VQRB77 128GB (disk 1): The self-test routine was interrupted by the host with a hard or soft "
              "reset.\n");
    EXPECT_EQ(Tarvexctl(State() + " selftest --drive 9 status").exitCode, 3);
}

TEST_F(CliTest, ASelfTestWhoseStartCannotBeSavedFailsAndSaysWhy) {
    ASSERT_EQ(Tarvexctl(State() + " scan").exitCode, 0);
    CliRun start = Tarvexctl(State() + " selftest --drive 0 short", "TARVEX_FAIL_WRITE=ENOSPC:disk0.json");
    EXPECT_EQ(start.exitCode, 3) << start.out;
    EXPECT_NE(start.err.find("disk0.json: the disk is full"), std::string::npos) << start.err;
    CliRun status = Tarvexctl(State() + " --json selftest --drive 0 status");
    ASSERT_EQ(status.exitCode, 0) << status.err;
    EXPECT_EQ(nlohmann::json::parse(status.out)["selfTest"]["running"], false) << "no test was kept";
    for (const auto& e : std::filesystem::directory_iterator(dir_.Path() / "state" / "disks")) {
        EXPECT_NE(e.path().extension(), ".tmp") << "left behind: " << e.path();
    }
}

TEST_F(CliTest, ReportIsWrittenWithCrLfAndAMissingFolderIsAnError) {
    const std::string file = (dir_.Path() / "support.log").string();
    CliRun r = Tarvexctl(State() + " report '" + file + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Export log file done.\n");
    const std::string report = tarvex::test::ReadHostFile(file);
    EXPECT_EQ(report.rfind("VARNO Velmora Version: ", 0), 0u);
    EXPECT_NE(report.find("\r\nBuild Number:Q30D1431\r\n"), std::string::npos);
    EXPECT_NE(report.find("\r\nThere are 4 disk drives attached.\r\n"), std::string::npos);
    EXPECT_EQ(report.find("\r\r"), std::string::npos);
    size_t bare = 0;
    for (size_t i = 0; i < report.size(); ++i) {
        bare += report[i] == '\n' && (i == 0 || report[i - 1] != '\r') ? 1 : 0;
    }
    EXPECT_EQ(bare, 0u) << "every line ends with CR LF";

    CliRun json = Tarvexctl(State() + " --json report '" + file + "'");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["report"]["drives"].size(), 4u);
    EXPECT_EQ(doc["messages"], nlohmann::json::array({"Export log file done."}));

    CliRun missing = Tarvexctl(State() + " report '" + (dir_.Path() / "no" / "x.log").string() + "'");
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
}

TEST_F(CliTest, UnscrambleWritesDecryptedLogIntoTheCurrentFolder) {
    std::string scrambled;
    for (char c : std::string("fault log\n")) {
        const auto unit = static_cast<uint16_t>(static_cast<unsigned char>(c) + 5);
        scrambled += static_cast<char>(unit & 0xFF);
        scrambled += static_cast<char>(unit >> 8);
    }
    std::ofstream(dir_.Path() / "in.log", std::ios::binary) << scrambled;
    CliRun r = Tarvexctl(State() + " unscramble in.log", "", dir_.Path().string());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Decrypt Log Done!\n");
    EXPECT_EQ(tarvex::test::ReadHostFile(dir_.Path() / "Decrypted.log"), "fault log\r\n");

    CliRun missing = Tarvexctl(State() + " unscramble nothing.log", "", dir_.Path().string());
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.out.find("Decrypt log failed: cannot read"), std::string::npos) << missing.out;
    EXPECT_NE(missing.out.find("The system cannot find the file specified."), std::string::npos);
}

}  // namespace

namespace {

TEST_F(CliTest, AMissingDiskIsExitThreeAndTheWrongKindSaysWhichFlagToUse) {
    CliRun volumes = Tarvexctl(State() + " volumes --disk 99");
    EXPECT_EQ(volumes.exitCode, 3) << volumes.out;
    EXPECT_EQ(volumes.err, "tarvexctl: volumes: no disk 99\n");
    EXPECT_EQ(nlohmann::json::parse(Tarvexctl(State() + " --json volumes --disk 99").out)["error"]["exitCode"], 3);
    CliRun identify = Tarvexctl(State() + " identify --disk 99");
    EXPECT_EQ(identify.exitCode, 3);
    EXPECT_EQ(identify.err, "tarvexctl: identify: no disk 99\n");
    CliRun smart = Tarvexctl(State() + " smart --disk 2");
    EXPECT_EQ(smart.exitCode, 3);
    EXPECT_NE(smart.err.find("disk 2 is an NVMe drive: add --nvme"), std::string::npos) << smart.err;
    CliRun nvme = Tarvexctl(State() + " identify --nvme --disk 0");
    EXPECT_EQ(nvme.exitCode, 3);
    EXPECT_NE(nvme.err.find("disk 0 is a SATA drive: leave out --nvme"), std::string::npos) << nvme.err;
    CliRun path = Tarvexctl(State() + " identify --path '\\\\.\\PhysicalDrive77'");
    EXPECT_EQ(path.exitCode, 3);
    EXPECT_NE(path.err.find("no device"), std::string::npos) << path.err;
}

TEST_F(CliTest, NumbersAreDecimalDigitsOnlyEverywhere) {
    // Each malformed form against one of the commands, so that every parser meets several.
    const char* bad[] = {"+1", "' 1'", "'1 '", "-0", "0x1", "''", "256", "99999999999999999999"};
    const char* commands[] = {"identify --disk ", "smart --disk ",  "volumes --disk ",
                              "health --drive ",  "health --disk ", "selftest status --disk "};
    for (size_t i = 0; i < std::size(bad); ++i) {
        const std::string command = commands[i % std::size(commands)];
        CliRun r = Tarvexctl(State() + " " + command + bad[i]);
        EXPECT_EQ(r.exitCode, 64) << command << bad[i] << ": " << r.out << r.err;
    }
    EXPECT_EQ(Tarvexctl(State() + " identify --disk 01").exitCode, 0) << "digits with a leading zero are a number";
}

TEST_F(CliTest, APathTooLongIsNotCalledAMissingFolder) {
    const std::string longName(300, 'n');
    CliRun folder = Tarvexctl(State() + " report '" + (dir_.Path() / longName / "x.log").string() + "'");
    EXPECT_EQ(folder.exitCode, 3);
    EXPECT_EQ(folder.err.find("does not exist"), std::string::npos) << folder.err;
    EXPECT_NE(folder.err.find("File name too long"), std::string::npos) << folder.err;
    CliRun file = Tarvexctl(State() + " report '" + (dir_.Path() / longName).string() + "'");
    EXPECT_EQ(file.exitCode, 3);
    EXPECT_NE(file.err.find("is too long (at most 255 characters)"), std::string::npos) << file.err;
    CliRun missing = Tarvexctl(State() + " report '" + (dir_.Path() / "no" / "x.log").string() + "'");
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
}

TEST_F(CliTest, ATableCutAtEightyDrivesSaysHowManyAreLeftOut) {
    nlohmann::json profile = tarvex::test::BaseProfile();
    profile["disks"] = nlohmann::json::array();
    for (int n = 0; n < 82; ++n) {
        profile["disks"].push_back({{"number", n},
                                    {"kind", n == 0 ? "sata" : "usb"},
                                    {"model", "Disk " + std::to_string(n)},
                                    {"serial", "S" + std::to_string(n)},
                                    {"firmware", "1.0"},
                                    {"capacityBytes", 1ll << 34}});
    }
    const std::string path = WriteProfile("many.json", profile.dump());
    CliRun r = Tarvexctl(State() + " --json --machine '" + path + "' scan");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["disksNotListed"], 2);
    EXPECT_EQ(r.err, "tarvexctl: scan: the drive table lists at most 80 disks; 2 more on this PC are not listed\n");
    CliRun demo = Tarvexctl(State() + " --json scan");
    EXPECT_EQ(nlohmann::json::parse(demo.out)["disksNotListed"], 0);
    EXPECT_TRUE(demo.err.empty()) << demo.err;
}

TEST_F(CliTest, ReportWritesThroughDevicesAndLinksAndKeepsTheUsersFiles) {
    const auto d = dir_.Path();
    // A FIFO with both ends held here and room for the whole report: written, never replaced.
    const auto fifo = d / "pipe.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_GE(writer, 0);
    ASSERT_GT(::fcntl(reader, F_SETPIPE_SZ, 1 << 20), 0);
    CliRun toFifo = Tarvexctl(State() + " report '" + fifo.string() + "'");
    EXPECT_EQ(toFifo.exitCode, 0) << toFifo.err;
    std::string got(1 << 20, '\0');
    const ssize_t n = ::read(reader, got.data(), got.size());
    got.resize(n > 0 ? static_cast<size_t>(n) : 0);
    ::close(writer);
    ::close(reader);
    EXPECT_EQ(got.rfind("VARNO Velmora Version: ", 0), 0u) << "the report went through the FIFO";
    EXPECT_TRUE(std::filesystem::is_fifo(fifo)) << "the FIFO was replaced by a plain file";

    // A null device node of our own (mknod needs root).
    const auto null = d / "mynull";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(Tarvexctl(State() + " report '" + null.string() + "'").exitCode, 0);
        EXPECT_TRUE(std::filesystem::is_character_file(null)) << "the device node was replaced";
    }

    // A link keeps pointing at its file, which gets the report; a user's FILE.tmp stays.
    std::ofstream(d / "target.txt") << "kept";
    std::filesystem::create_directory(d / "sub");
    std::filesystem::create_symlink("../target.txt", d / "sub" / "link.txt");
    std::ofstream(d / "notes.txt.tmp") << "precious";
    ASSERT_EQ(Tarvexctl(State() + " report '" + (d / "sub" / "link.txt").string() + "'").exitCode, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(d / "sub" / "link.txt"));
    EXPECT_EQ(tarvex::test::ReadHostFile(d / "target.txt").rfind("VARNO Velmora Version: ", 0), 0u);
    ASSERT_EQ(Tarvexctl(State() + " report '" + (d / "notes.txt").string() + "'").exitCode, 0);
    EXPECT_EQ(tarvex::test::ReadHostFile(d / "notes.txt.tmp"), "precious");
    for (const auto& entry : std::filesystem::directory_iterator(d)) {
        EXPECT_EQ(entry.path().filename().string().find("~tarvex"), std::string::npos) << entry.path();
    }

    // Decrypted.log as a link: the text lands in its target.
    std::ofstream(d / "in.log", std::ios::binary) << std::string("\x6F\x00", 2);  // 'j' + 5
    std::filesystem::create_symlink("plain.txt", d / "Decrypted.log");
    CliRun decrypt = Tarvexctl(State() + " unscramble in.log", "", d.string());
    EXPECT_EQ(decrypt.exitCode, 0) << decrypt.out << decrypt.err;
    EXPECT_TRUE(std::filesystem::is_symlink(d / "Decrypted.log"));
    EXPECT_EQ(tarvex::test::ReadHostFile(d / "plain.txt"), "j");
}

TEST_F(CliTest, AnEndlessOrHugeProfileIsRefused) {
    const auto fifo = dir_.Path() / "endless.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CliRun r = Tarvexctl(State() + " --machine '" + fifo.string() + "' scan");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "tarvexctl: " + fifo.string() + ": cannot read the machine profile: not a regular file\n");
}

}  // namespace

namespace {

TEST_F(CliTest, AtaSummaryReadsTheJmf608DriveAndRefusesOthers) {
    // Disk 1 of the demo PC is the JMF608 drive: totals after three readings, in text and JSON.
    const std::string fast = "TARVEX_SPEED=1000";  // a second between readings, on the PC's clock
    CliRun text = Tarvexctl(State() + " ata-summary --drive 1 --seconds 3", fast);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("(disk 1), 3 readings, 0 failed"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("R/W Cmd Ratio: "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("64 KB     read "), std::string::npos) << text.out;

    CliRun one = Tarvexctl(State() + " --json ata-summary --drive 1", fast);
    CliRun two = Tarvexctl(State() + " --json ata-summary --drive 1 --seconds 2", fast);
    ASSERT_EQ(one.exitCode, 0) << one.err;
    ASSERT_EQ(two.exitCode, 0) << two.err;
    const auto a = nlohmann::json::parse(one.out);
    const auto b = nlohmann::json::parse(two.out);
    EXPECT_EQ(a["command"], "ata-summary");
    EXPECT_EQ(a["readings"], 1);
    EXPECT_EQ(b["readingsAdded"], 2);
    uint64_t reads = 0;
    for (const auto& bucket : a["buckets"]) {
        reads += bucket["reads"].get<uint64_t>();
    }
    EXPECT_EQ(reads, a["totalReads"].get<uint64_t>());
    EXPECT_GT(a["totalWrites"].get<uint64_t>(), 0u);
    // The drive's counters only grow, so two readings add up to more than twice one earlier.
    EXPECT_GE(b["totalWrites"].get<uint64_t>(), 2 * a["totalWrites"].get<uint64_t>());
    EXPECT_NE(a["ratio"].get<std::string>().find("% Read, "), std::string::npos) << a["ratio"];

    CliRun other = Tarvexctl(State() + " ata-summary --drive 0", fast);
    EXPECT_EQ(other.exitCode, 3);
    EXPECT_EQ(other.err, "tarvexctl: ata-summary: Non-supported model\n");
    EXPECT_TRUE(other.out.empty());
    EXPECT_EQ(Tarvexctl(State() + " ata-summary --drive 1 --seconds 0", fast).exitCode, 64);
    EXPECT_EQ(Tarvexctl(State() + " ata-summary --seconds 2", fast).exitCode, 64);
}

}  // namespace
