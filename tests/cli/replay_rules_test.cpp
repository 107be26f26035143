// Pages as real drives send them (slots with gaps, repeated ids, a threshold page in another
// order), replayed by an emulated drive and read back through tarvexctl: the drive table, the
// health status and the report follow the program's own rules for them.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/test_machine.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Slot {
    uint8_t id;
    uint16_t flags;
    uint8_t current;
    uint8_t worst;
    uint64_t raw;
};

using Page = std::array<uint8_t, 512>;

void Seal(Page& p) {
    uint8_t sum = 0;
    for (int i = 0; i < 511; ++i) {
        sum = static_cast<uint8_t>(sum + p[i]);
    }
    p[511] = static_cast<uint8_t>(0x100 - sum);
}

// A SMART data page with the given slots (id 0 leaves a gap) and a threshold page whose slot i
// holds thresholds[i] = {id, threshold}.
Page DataPage(const std::vector<Slot>& slots) {
    Page p{};
    p[0] = 0x10;
    for (size_t i = 0; i < slots.size(); ++i) {
        uint8_t* s = p.data() + 2 + 12 * i;
        s[0] = slots[i].id;
        s[1] = static_cast<uint8_t>(slots[i].flags);
        s[2] = static_cast<uint8_t>(slots[i].flags >> 8);
        s[3] = slots[i].current;
        s[4] = slots[i].worst;
        for (int b = 0; b < 6; ++b) {
            s[5 + b] = static_cast<uint8_t>(slots[i].raw >> (8 * b));
        }
    }
    p[367] = 0x1D;
    p[372] = 2;
    p[373] = 10;
    Seal(p);
    return p;
}

Page ThresholdPage(const std::vector<std::pair<uint8_t, uint8_t>>& thresholds) {
    Page p{};
    p[0] = 0x10;
    for (size_t i = 0; i < thresholds.size(); ++i) {
        p[2 + 12 * i] = thresholds[i].first;
        p[3 + 12 * i] = thresholds[i].second;
    }
    Seal(p);
    return p;
}

std::string Hex(const Page& p) {
    std::string s;
    for (uint8_t b : p) {
        s += fmt::format("{:02x}", b);
    }
    return s;
}

using CtlRun = tarvex::test::ChildRun;

class ReplayRulesTest : public ::testing::Test {
protected:
    std::string Profile(const Page& data, const Page& thresholds) {
        const json profile = {
            {"formatVersion", 1},
            {"os", {{"major", 6}, {"minor", 1}, {"build", 7601}, {"servicePack", "Service Pack 1"}}},
            {"uiLanguage", 1033},
            {"program", {{"path", "C:\\T\\Tarvex.exe"}}},
            {"disks",
             json::array({{{"number", 0},
                           {"kind", "sata"},
                           {"model", "REPLAY TEST 64GB"},
                           {"serial", "RP0000000001"},
                           {"firmware", "1.0"},
                           {"capacityBytes", 64023257088},
                           {"sata", {{"pages", {{"smartData", Hex(data)}, {"smartThresholds", Hex(thresholds)}}}}}}})}};
        const fs::path path = dir_.Path() / "replay.json";
        std::ofstream(path) << profile.dump();
        return path.string();
    }
    CtlRun Tarvexctl(const std::string& profile, const std::string& args) {
        return tarvex::test::RunChild("env -u TARVEX_MACHINE -u TARVEX_STATE -u TARVEX_SPEED -u TARVEX_PLATFORM '" TARVEXCTL_PATH
                                      "' --machine '" + profile + "' --state '" + (dir_.Path() / "state").string() +
                                      "' " + args);
    }
    tarvex::test::TempDir dir_;
};

// Slot 1 is a gap; the threshold page lists id 5 first and id 1 in slot 2. Entries pair by
// slot, not by id: attribute 1 (current 40) meets the threshold in slot 0 (10, of id 5) and
// passes, attribute 5 (current 100) meets slot 2's (50) and passes, so the drive is good where
// pairing by id would have failed attribute 1.
TEST_F(ReplayRulesTest, GapsAreSkippedAndThresholdsPairBySlot) {
    const Page data = DataPage({{1, 0x000B, 40, 40, 0}, {0, 0, 0, 0, 0}, {5, 0x0033, 100, 100, 3}, {194, 0x0022, 70, 60, 41}});
    const Page thresholds = ThresholdPage({{5, 10}, {0, 0}, {1, 50}, {194, 0}});
    const std::string profile = Profile(data, thresholds);

    const CtlRun health = Tarvexctl(profile, "--json health --disk 0");
    ASSERT_EQ(health.exitCode, 0) << health.err << health.out;
    const json h = json::parse(health.out);
    EXPECT_EQ(h["status"], 1);
    EXPECT_EQ(h["temperature"], 41);
    ASSERT_EQ(h["attributes"].size(), 3u) << "the empty slot is not an attribute";
    EXPECT_EQ(h["attributes"][0]["id"], 1);
    EXPECT_EQ(h["attributes"][0]["threshold"], 10) << "threshold of slot 0, whatever id it carries";
    EXPECT_EQ(h["attributes"][1]["id"], 5);
    EXPECT_EQ(h["attributes"][1]["threshold"], 50);

    const CtlRun smart = Tarvexctl(profile, "--json smart --disk 0");
    ASSERT_EQ(smart.exitCode, 0) << smart.err << smart.out;
    const json s = json::parse(smart.out);
    EXPECT_EQ(s["attributes"][0]["thresholdId"], 5) << "smart names the id the paired threshold slot holds";
    EXPECT_EQ(s["attributes"][2]["thresholdId"], 194);
    const CtlRun table = Tarvexctl(profile, "smart --disk 0");
    EXPECT_NE(table.out.find("attribute 1 (01h) is paired by position with the threshold slot of attribute 5 (05h)"),
              std::string::npos) << table.out;
    EXPECT_EQ(table.out.find("attribute 194 (C2h) is paired"), std::string::npos) << "194 sits in its own slot";

    const fs::path report = dir_.Path() / "report.txt";
    const CtlRun written = Tarvexctl(profile, "report '" + report.string() + "'");
    ASSERT_EQ(written.exitCode, 0) << written.err << written.out;
    const std::string text = tarvex::test::ReadHostFile(report);
    // ID, current, worst, threshold (by slot), reserved byte and raw bytes 5..0, flags low first;
    // the report has Windows line ends.
    EXPECT_NE(text.find("01      28    28        0A 00000000000000 0B00\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("05      64    64        32 00000000000003 3300\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("C2      46    3C        00 00000000000029 2200\r\n"), std::string::npos) << text;
}

// Two slots with id 9 make the status "caution" whatever the thresholds say, and both rows stay.
TEST_F(ReplayRulesTest, ARepeatedIdMakesTheStatusCaution) {
    const Page data = DataPage({{9, 0x0032, 100, 100, 1200}, {5, 0x0033, 100, 100, 0}, {9, 0x0032, 99, 99, 1300}});
    const Page thresholds = ThresholdPage({{9, 0}, {5, 10}, {9, 0}});
    const std::string profile = Profile(data, thresholds);
    const CtlRun health = Tarvexctl(profile, "--json health --disk 0");
    EXPECT_EQ(health.exitCode, 4) << health.err << health.out;
    const json h = json::parse(health.out);
    EXPECT_EQ(h["status"], 2);
    ASSERT_EQ(h["attributes"].size(), 3u);
    EXPECT_EQ(h["attributes"][2]["raw"], 1300);

    const CtlRun scan = Tarvexctl(profile, "--json scan");
    ASSERT_EQ(scan.exitCode, 0) << scan.err << scan.out;
    EXPECT_EQ(json::parse(scan.out)["drives"][0]["attributeCount"], 3);
}

}  // namespace
