// One whole report of a small PC (one SATA drive with two volumes, one controller, one memory
// module), compared line by line with the report kept beside this test. The program file's
// time is pinned, so the build number is fixed; the version line follows the build and is
// checked by its form only. Set TARVEX_WRITE_GOLDEN=1 to rewrite the kept report after a
// deliberate change, then read the difference before committing it.
#include <gtest/gtest.h>

#include <fstream>

#include "app/startup.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/sim/embedded_profiles.h"
#include "support/test_machine.h"
#include "sysinfo/log_flows.h"
#include "sysinfo/report.h"
#include "sysinfo/system_info.h"

namespace tarvex {
namespace {

const std::filesystem::path kGolden = std::filesystem::path(TARVEX_TESTS_DIR) / "sysinfo" / "golden" / "small_pc_report.txt";

nlohmann::json SmallPc() {
    nlohmann::json p = nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text);
    p["disks"] = nlohmann::json::array({p["disks"][0]});
    nlohmann::json volumes = nlohmann::json::array();
    for (const auto& v : p["volumes"]) {
        if (v.contains("disk") && v["disk"] == 0) {
            volumes.push_back(v);
        }
    }
    p["volumes"] = volumes;
    nlohmann::json ahci = p["hardware"]["controllers"][0];
    ahci["disks"] = nlohmann::json::array({0});
    p["hardware"]["controllers"] = nlohmann::json::array({ahci});
    p["hardware"]["memory"] = nlohmann::json::array({p["hardware"]["memory"][1]});
    p.erase("services");
    return p;
}

std::vector<std::string> SplitLines(const std::string& text, const std::string& end) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t at = text.find(end, start);
        lines.push_back(text.substr(start, at - start));
        start = at == std::string::npos ? text.size() : at + end.size();
    }
    return lines;
}

class ReportGoldenTest : public ::testing::Test {
protected:
    ReportGoldenTest() : machine_(SmallPc()) {
        ResetTraceForTesting();
        ResetSystemInfoForTesting();
        (void)RunStartupCore();
        PhysicalDriveTable().clear();
        DriveCount = GlobalAtaCommand().UpdatePhysicalDrivesInfo(PhysicalDriveTable());
        BusyOperation = 0;
    }
    ~ReportGoldenTest() override {
        SetTraceLevel(0);
        ResetTraceForTesting();
        PhysicalDriveTable().clear();
        DriveCount = 0;
    }
    test::TestMachine machine_;
};

TEST_F(ReportGoldenTest, TheWholeReportOfASmallPc) {
    ASSERT_EQ(DriveCount, 1);
    machine_->Dialogs().QueueOpenFileAnswer(u"C:\\Users\\Owner\\support.log");
    ASSERT_TRUE(machine_->Files().CreateDirectory(u"C:\\Users")) << "the folder the user picks";
    ASSERT_TRUE(machine_->Files().CreateDirectory(u"C:\\Users\\Owner"));
    ASSERT_EQ(ExportLogFlow(), FlowEnd::Done);
    const std::string onDisk = test::ReadHostFile(machine_.Host(u"C:\\Users\\Owner\\support.log"));

    // Text with CR LF line ends and nothing else: no bare LF, no CR CR.
    ASSERT_FALSE(onDisk.empty());
    EXPECT_EQ(onDisk.substr(onDisk.size() - 2), "\r\n");
    std::string text;
    for (size_t i = 0; i < onDisk.size(); ++i) {
        if (onDisk[i] == '\r') {
            ASSERT_TRUE(i + 1 < onDisk.size() && onDisk[i + 1] == '\n') << "a CR outside a line end at " << i;
            continue;
        }
        ASSERT_TRUE(onDisk[i] != '\n' || (i > 0 && onDisk[i - 1] == '\r')) << "a bare LF at " << i;
        text += onDisk[i];
    }

    std::vector<std::string> lines = SplitLines(text, "\n");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("VARNO Velmora Version: ", 0), 0u);
    lines[0] = "VARNO Velmora Version: (the build's version)";
    std::string normalised;
    for (const std::string& l : lines) {
        normalised += l + "\n";
    }
    if (std::getenv("TARVEX_WRITE_GOLDEN") != nullptr) {
        std::ofstream(kGolden, std::ios::binary) << normalised;
    }
    const std::vector<std::string> expected = SplitLines(test::ReadHostFile(kGolden), "\n");
    ASSERT_FALSE(expected.empty()) << "missing " << kGolden;
    for (size_t i = 0; i < std::max(expected.size(), lines.size()); ++i) {
        ASSERT_EQ(i < lines.size() ? lines[i] : "(no line)", i < expected.size() ? expected[i] : "(no line)")
            << "line " << i + 1 << " of " << kGolden;
    }
}

}  // namespace
}  // namespace tarvex
