// tarvexctl identify and smart on SATA drives, run as a user runs them: the --json fields
// scripts rely on, the grouped text, and the --raw page form that hdparm --Istdin reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "device/realworld_pages.h"
#include "platform/sim/embedded_profiles.h"
#include "support/child_process.h"
#include "support/test_machine.h"

namespace {

using nlohmann::json;

using CtlRun = tarvex::test::ChildRun;

// Runs a shell command line (tarvexctl is TARVEXCTL) and collects what it prints.
CtlRun Shell(const std::string& line, const tarvex::test::TempDir&) {
    return tarvex::test::RunChild("env -u TARVEX_MACHINE -u TARVEX_STATE -u TARVEX_SPEED -u TARVEX_PLATFORM TARVEXCTL='" TARVEXCTL_PATH
                                  "' sh -c '" + line + "'");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The hex lines of --raw text as bytes (little-endian words); fails the test on a line that
// is neither a hex line nor a label line.
std::vector<uint8_t> HexLineBytes(const std::string& text, int* labels) {
    static const std::regex kHexLine("[0-9a-f]{4}( [0-9a-f]{4}){7}");
    std::vector<uint8_t> bytes;
    *labels = 0;
    for (const std::string& line : Lines(text)) {
        if (std::regex_match(line, kHexLine)) {
            for (size_t at = 0; at < line.size(); at += 5) {
                const unsigned word = std::stoul(line.substr(at, 4), nullptr, 16);
                bytes.push_back(static_cast<uint8_t>(word & 0xFF));
                bytes.push_back(static_cast<uint8_t>(word >> 8));
            }
        } else {
            EXPECT_FALSE(line.empty() || std::isxdigit(static_cast<unsigned char>(line[0])))
                << "a label line must not begin with a hex digit: '" << line << "'";
            ++*labels;
        }
    }
    return bytes;
}

std::vector<uint8_t> HexBytes(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

class IdentifySmartTest : public ::testing::Test {
protected:
    std::string Ctl(const std::string& args, const std::string& machine = "") const {
        return "\"$TARVEXCTL\" --state " + (dir_.Path() / "state").string() +
               (machine.empty() ? "" : " --machine " + machine) + " " + args;
    }
    CtlRun Tarvexctl(const std::string& args, const std::string& machine = "") const {
        return Shell(Ctl(args, machine), dir_);
    }
    json Json(const std::string& args, const std::string& machine = "") const {
        const CtlRun r = Tarvexctl("--json " + args, machine);
        EXPECT_EQ(r.exitCode, 0) << args << ": " << r.err;
        return json::parse(r.out, nullptr, false);
    }
    std::string WriteProfile(const json& profile) const {
        const auto path = dir_.Path() / "machine.json";
        std::ofstream(path) << profile.dump();
        return path.string();
    }
    tarvex::test::TempDir dir_;
};

json Disk(int number, const char* model, uint64_t bytes, const json& words) {
    return {{"number", number}, {"kind", "sata"},        {"model", model},
            {"serial", "SN" + std::to_string(number)}, {"firmware", "1.0"}, {"capacityBytes", bytes},
            {"sata", {{"identifyWords", words}}}};
}

// Words 100..103 for a count of logical sectors.
json Lba48(json words, uint64_t sectors) {
    for (int i = 0; i < 4; ++i) {
        words[std::to_string(100 + i)] = (sectors >> (16 * i)) & 0xFFFF;
    }
    return words;
}

TEST_F(IdentifySmartTest, SyntheticPagesReachTheIdentifyFields) {
    json profile = tarvex::test::BaseProfile();
    profile["disks"] = json::array({
        // No 48-bit feature set: the size is in words 60..61, and words 100..103 are stale.
        Disk(0, "OLD 64GB", 117231408ull * 512, Lba48({{"83", 0x7000}}, 12345)),
        // 4096-byte logical sectors, no WWN, security at level maximum, long erase times.
        Disk(1, "NATIVE 4K", 1000204886016ull,
             Lba48({{"106", 0x5000}, {"117", 2048}, {"118", 0}, {"87", 0x4063}, {"128", 0x0129}, {"89", 255},
                    {"90", 0x8000 | 1000}, {"92", 0x4BBC}, {"222", 0x10FF}, {"80", 0x09FC}, {"76", 0x0102},
                    {"77", 0x0004}, {"69", 0x4000}, {"169", 1}},
                   244190646)),
        // 512e: 512-byte logical in 4096-byte physical sectors; no erase times, no master id.
        Disk(2, "EMULATED 512E", 500107862016ull,
             {{"106", 0x6003}, {"89", 0}, {"90", 0}, {"92", 0}, {"222", 0x0000}, {"80", 0}}),
    });
    const std::string machine = WriteProfile(profile);

    json old = Json("identify --disk 0", machine);
    EXPECT_EQ(old["capacity"]["lba48"], false);
    EXPECT_EQ(old["capacity"]["sectors"], 117231408);
    EXPECT_EQ(old["capacity"]["lba28Sectors"], 117231408);
    EXPECT_EQ(old["capacity"]["lba48Sectors"], 12345);
    EXPECT_EQ(old["capacity"]["bytes"], 117231408ull * 512);
    EXPECT_EQ(old["capacity"]["gigabytes"], 60);
    EXPECT_EQ(old["identity"]["maxLba"], 117231408) << "the same count as capacity.sectors";
    EXPECT_EQ(old["checksum"], json({{"present", true}, {"valid", true}}));

    json native = Json("identify --disk 1", machine);
    EXPECT_EQ(native["capacity"]["logicalSectorBytes"], 4096);
    EXPECT_EQ(native["capacity"]["physicalSectorBytes"], 4096);
    EXPECT_EQ(native["capacity"]["sectors"], 244190646);
    EXPECT_EQ(native["capacity"]["bytes"], 244190646ull * 4096);
    EXPECT_EQ(native["capacity"]["gigabytes"], 1000);
    EXPECT_EQ(native["identity"]["wwn"], "none");
    EXPECT_EQ(native["security"]["level"], "maximum");
    EXPECT_EQ(native["security"]["frozen"], true);
    EXPECT_EQ(native["security"]["eraseMinutes"], 510);
    EXPECT_EQ(native["security"]["eraseTimeMoreThan"], true);
    EXPECT_EQ(native["security"]["enhancedEraseMinutes"], 2000);
    EXPECT_EQ(native["security"]["enhancedEraseTimeMoreThan"], false);
    EXPECT_EQ(native["security"]["masterPasswordIdentifier"], 0x4BBC);
    EXPECT_EQ(native["sata"]["revision"], "SATA 3.2");
    EXPECT_EQ(native["identity"]["sataRevision"], "SATA 3.2");
    EXPECT_EQ(native["sata"]["supportedSpeeds"], json({"1.5 Gb/s"}));
    EXPECT_EQ(native["sata"]["negotiatedSpeed"], "3.0 Gb/s");
    EXPECT_EQ(native["ata"]["majorVersions"], json({2, 3, 4, 5, 6, 7, 8, 11}));
    EXPECT_EQ(native["ata"]["majorVersion"], 11);
    EXPECT_EQ(native["trim"], json({{"supported", true}, {"deterministicRead", true}, {"zeroedRead", false}}));

    json emulated = Json("identify --disk 2", machine);
    EXPECT_EQ(emulated["capacity"]["logicalSectorBytes"], 512);
    EXPECT_EQ(emulated["capacity"]["physicalSectorBytes"], 4096);
    EXPECT_TRUE(emulated["security"]["eraseMinutes"].is_null());
    EXPECT_TRUE(emulated["security"]["enhancedEraseMinutes"].is_null());
    EXPECT_TRUE(emulated["security"]["masterPasswordIdentifier"].is_null());
    EXPECT_EQ(emulated["sata"]["revision"], "N/A");
    EXPECT_EQ(emulated["sata"]["negotiatedSpeed"], "N/A");
    EXPECT_TRUE(emulated["ata"]["majorVersions"].empty());
    EXPECT_TRUE(emulated["ata"]["majorVersion"].is_null());

    // The text groups say the same.
    const CtlRun text0 = Tarvexctl("identify --disk 0", machine);
    ASSERT_EQ(text0.exitCode, 0) << text0.err;
    EXPECT_TRUE(Has(text0.out, "Sectors              117231408 (28-bit addresses, no 48-bit feature set)\n"))
        << text0.out;
    const CtlRun text1 = Tarvexctl("identify --disk 1", machine);
    for (const char* line : {"Identity\n", "\nCapacity\n", "\nFeatures / TRIM\n", "\nSATA\n", "\nSecurity\n",
                             "\nChecksum\n", "WWN                  none\n",
                             "Sector size          4096 bytes logical, 4096 bytes physical\n",
                             "Level                maximum\n", "Erase time           more than 510 min\n",
                             "Enhanced erase time  2000 min\n", "Master password id   19388 (4BBCh)\n",
                             "Integrity word       valid\n", "State                not enabled, not locked, frozen\n"}) {
        EXPECT_TRUE(Has(text1.out, line)) << line << " in\n" << text1.out;
    }
}

TEST_F(IdentifySmartTest, DemoDrivesGiveEveryFieldWithItsType) {
    for (int disk : {0, 1, 3}) {
        SCOPED_TRACE("disk " + std::to_string(disk));
        json id = Json("identify --raw --disk " + std::to_string(disk));
        ASSERT_TRUE(id.is_object());
        EXPECT_EQ(id["identity"]["wwn"].get<std::string>().size(), 16u);
        EXPECT_EQ(id["identity"]["maxLba"], id["capacity"]["sectors"]);
        for (const char* key : {"lba48"}) {
            EXPECT_TRUE(id["capacity"][key].is_boolean()) << key;
        }
        for (const char* key : {"sectors", "lba28Sectors", "lba48Sectors", "logicalSectorBytes",
                                "physicalSectorBytes", "bytes", "gigabytes"}) {
            EXPECT_TRUE(id["capacity"][key].is_number_unsigned()) << key;
        }
        EXPECT_EQ(id["capacity"]["bytes"].get<uint64_t>(),
                  id["capacity"]["sectors"].get<uint64_t>() * id["capacity"]["logicalSectorBytes"].get<uint64_t>());
        for (const char* key : {"supported", "deterministicRead", "zeroedRead"}) {
            EXPECT_TRUE(id["trim"][key].is_boolean()) << key;
        }
        EXPECT_TRUE(id["sata"]["revision"].is_string());
        EXPECT_TRUE(id["sata"]["supportedSpeeds"].is_array());
        EXPECT_EQ(id["sata"]["negotiatedSpeed"], "6.0 Gb/s");
        EXPECT_TRUE(id["ata"]["majorVersions"].is_array());
        EXPECT_TRUE(id["ata"]["majorVersion"].is_number_integer());
        EXPECT_TRUE(id["security"]["level"] == "high" || id["security"]["level"] == "maximum");
        EXPECT_TRUE(id["security"]["eraseMinutes"].is_number() || id["security"]["eraseMinutes"].is_null());
        EXPECT_TRUE(id["security"]["eraseTimeMoreThan"].is_boolean());
        EXPECT_EQ(id["checksum"], json({{"present", true}, {"valid", true}}));

        // The raw page as the drive sent it: the strings are in the drive's byte order.
        const std::string raw = id["rawIdentify"];
        ASSERT_EQ(raw.size(), 1024u);
        EXPECT_EQ(raw.find_first_not_of("0123456789abcdef"), std::string::npos);
        const std::vector<uint8_t> page = HexBytes(raw);
        ASSERT_EQ(id["rawWords"].size(), 256u);
        for (int w = 0; w < 256; ++w) {
            ASSERT_EQ(id["rawWords"][w].get<int>(), page[2 * w] | (page[2 * w + 1] << 8)) << "word " << w;
        }
        const std::string model = id["identity"]["model"];
        EXPECT_EQ(id["rawWords"][27].get<int>(), (model[0] << 8) | model[1]) << "the first character is the high byte";

        json smart = Json("smart --raw --disk " + std::to_string(disk));
        ASSERT_TRUE(smart.is_object());
        EXPECT_EQ(smart["returnStatus"], json({{"read", true}, {"thresholdExceeded", false}}));
        std::optional<uint64_t> hours;
        for (const json& a : smart["attributes"]) {
            EXPECT_TRUE(a["prefailure"].is_boolean());
            EXPECT_EQ(a["prefailure"].get<bool>(), (a["flags"].get<int>() & 1) != 0);
            EXPECT_EQ(a["online"].get<bool>(), (a["flags"].get<int>() & 2) != 0);
            EXPECT_EQ(a["thresholdId"], a["id"]) << "the emulated pages list the same ids in the same order";
            if (a["id"] == 9) {
                hours = a["raw"].get<uint64_t>();
            }
        }
        ASSERT_TRUE(hours.has_value());
        EXPECT_EQ(smart["powerOnHours"], *hours);
        EXPECT_TRUE(smart["offline"]["status"].is_number_unsigned());
        EXPECT_TRUE(smart["offline"]["statusText"].is_string());
        EXPECT_TRUE(smart["offline"]["seconds"].is_number_unsigned());
        EXPECT_EQ(smart["selfTest"]["status"], 0);
        EXPECT_EQ(smart["selfTest"]["statusText"], "completed without error");
        EXPECT_EQ(smart["selfTest"]["shortAndExtendedSupported"], true);
        EXPECT_GT(smart["selfTest"]["extendedMinutes"].get<int>(), 0);
        EXPECT_TRUE(smart["capabilities"]["errorLogging"].is_boolean());
        EXPECT_TRUE(smart["capabilities"]["smartCapability"].is_number_unsigned());
        EXPECT_EQ(smart["selfTestLog"]["read"], true);
        EXPECT_TRUE(smart["selfTestLog"]["entries"].is_array());
        const std::vector<uint8_t> data = HexBytes(smart["rawSmartData"]);
        ASSERT_EQ(data.size(), 512u);
        EXPECT_EQ(data[363] >> 4, smart["selfTest"]["status"].get<int>());
        EXPECT_EQ(smart["rawSmartThresholds"].get<std::string>().size(), 1024u);
    }
}

TEST_F(IdentifySmartTest, RawTextIsTheHexWordFormHdparmReads) {
    const json id = Json("identify --raw --disk 0");
    int labels = 0;
    const CtlRun raw = Tarvexctl("identify --raw --disk 0");
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    const std::vector<uint8_t> page = HexLineBytes(raw.out, &labels);
    EXPECT_EQ(labels, 1);
    EXPECT_EQ(page, HexBytes(id["rawIdentify"])) << raw.out;

    const json smart = Json("smart --raw --disk 1");
    const CtlRun pages = Tarvexctl("smart --raw --disk 1");
    ASSERT_EQ(pages.exitCode, 0) << pages.err;
    const std::vector<uint8_t> both = HexLineBytes(pages.out, &labels);
    EXPECT_EQ(labels, 2) << "a label line before each page";
    std::vector<uint8_t> expected = HexBytes(smart["rawSmartData"]);
    const std::vector<uint8_t> thresholds = HexBytes(smart["rawSmartThresholds"]);
    expected.insert(expected.end(), thresholds.begin(), thresholds.end());
    EXPECT_EQ(both, expected) << "the data page, then the threshold page";

    EXPECT_EQ(Tarvexctl("smart --raw --nvme --disk 2").exitCode, 64) << "the NVMe log has no such pages";

    if (!std::filesystem::exists("/usr/sbin/hdparm")) {
        GTEST_SKIP() << "hdparm is not installed";
    }
    const CtlRun decoded = Shell(Ctl("identify --raw --disk 0") + " | /usr/sbin/hdparm --Istdin", dir_);
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    const std::string model = id["identity"]["model"];
    const std::string serial = id["identity"]["serial"];
    const std::string firmware = id["identity"]["firmware"];
    EXPECT_TRUE(std::regex_search(decoded.out, std::regex("Model Number: +" + model + " *\n"))) << decoded.out;
    EXPECT_TRUE(std::regex_search(decoded.out, std::regex("Serial Number: +" + serial + " *\n"))) << decoded.out;
    EXPECT_TRUE(std::regex_search(decoded.out, std::regex("Firmware Revision: +" + firmware + " *\n")))
        << decoded.out;
    EXPECT_TRUE(Has(decoded.out, "LBA48  user addressable sectors:   " +
                                     std::to_string(id["capacity"]["sectors"].get<uint64_t>())))
        << decoded.out;
    EXPECT_TRUE(Has(decoded.out, "Checksum: correct")) << decoded.out;
}

TEST_F(IdentifySmartTest, SmartTextShowsStatusTypesSelfTestsAndAnExceededThreshold) {
    json profile = json::parse(tarvex::sim::FindEmbeddedProfile("demo")->text);
    for (auto& a : profile["disks"][1]["sata"]["smart"]["attributes"]) {
        if (a["id"] == 5) {
            a["current"] = a["threshold"];
        }
    }
    const std::string machine = WriteProfile(profile);
    const json smart = Json("smart --disk 1", machine);
    EXPECT_EQ(smart["returnStatus"], json({{"read", true}, {"thresholdExceeded", true}}));

    const CtlRun text = Tarvexctl("smart --disk 1", machine);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(Has(text.out, "SMART status         threshold exceeded")) << text.out;
    EXPECT_TRUE(Has(text.out, "Power-on hours       5210\n")) << text.out;
    EXPECT_TRUE(Has(text.out, "attribute 9's raw value taken as hours")) << "says where other tools differ";
    EXPECT_TRUE(std::regex_search(text.out, std::regex(" ID +Name +Type +Updated +Flags")));
    EXPECT_TRUE(std::regex_search(text.out, std::regex("\n +5 05 +Reallocated Sector Count +pre-fail +online +0013 ")))
        << text.out;
    EXPECT_TRUE(std::regex_search(text.out, std::regex("\n +9 09 +Power-on Hours +advisory +online +0012 ")))
        << text.out;
    for (const char* line : {"\nOff-line data collection\n", "\nSelf-test\n", "Tests supported      short and extended\n",
                             "\nSelf-test log\n", "no self-test recorded\n"}) {
        EXPECT_TRUE(Has(text.out, line)) << line << " in\n" << text.out;
    }
    EXPECT_FALSE(Has(text.out, "* attribute")) << "no threshold slot of another attribute";
}

TEST_F(IdentifySmartTest, RealIdentifyPagesShowAsHdparmShowsThem) {
    TARVEX_REQUIRE_REALWORLD_DRIVES(folder);
    // Each real page goes to an emulated drive word by word (the integrity word is sealed
    // again, to the same value for a page whose checksum is right).
    std::vector<std::vector<uint8_t>> pages;
    json profile = tarvex::test::BaseProfile();
    profile["disks"] = json::array();
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto parts = tarvex::test::ReadRealworldDump(entry.path());
        if (parts.count("IDFY") == 0 || parts.at("IDFY").size() != 512) {
            continue;
        }
        const std::vector<uint8_t>& page = parts.at("IDFY");
        json words = json::object();
        for (int w = 0; w < 255; ++w) {
            words[std::to_string(w)] = page[2 * w] | (page[2 * w + 1] << 8);
        }
        const int number = static_cast<int>(pages.size());
        profile["disks"].push_back(Disk(number, "REPLACED BY THE PAGE", 512ull * 1000000, words));
        pages.push_back(page);
    }
    ASSERT_EQ(pages.size(), 6u);
    const std::string machine = WriteProfile(profile);
    for (size_t disk = 0; disk < pages.size(); ++disk) {
        SCOPED_TRACE("disk " + std::to_string(disk));
        const json id = Json("identify --raw --disk " + std::to_string(disk), machine);
        EXPECT_EQ(HexBytes(id["rawIdentify"]), pages[disk]) << "the page as the drive sent it";
        EXPECT_EQ(id["checksum"]["valid"], true);

        if (!std::filesystem::exists("/usr/sbin/hdparm")) {
            continue;
        }
        // hdparm reads the same from our --raw output as from the page itself.
        std::ofstream(dir_.Path() / "page.txt") << [&] {
            std::string text;
            for (int w = 0; w < 256; ++w) {
                char word[8];
                std::snprintf(word, sizeof word, w % 8 == 7 ? "%04x\n" : "%04x ",
                              pages[disk][2 * w] | (pages[disk][2 * w + 1] << 8));
                text += word;
            }
            return text;
        }();
        const CtlRun direct = Shell("/usr/sbin/hdparm --Istdin < " + (dir_.Path() / "page.txt").string(), dir_);
        const CtlRun ours = Shell(Ctl("identify --raw --disk " + std::to_string(disk), machine) +
                                      " | /usr/sbin/hdparm --Istdin",
                                  dir_);
        ASSERT_EQ(ours.exitCode, 0) << ours.err;
        EXPECT_EQ(ours.out, direct.out);
        const std::string model = id["identity"]["model"];
        EXPECT_TRUE(Has(direct.out, "Model Number:       " + model)) << direct.out;
        const std::string sectorsLine = id["capacity"]["lba48"].get<bool>() ? "LBA48  user addressable sectors:"
                                                                             : "LBA    user addressable sectors:";
        EXPECT_TRUE(std::regex_search(direct.out, std::regex(sectorsLine + " +" +
                                                             std::to_string(id["capacity"]["sectors"].get<uint64_t>()) +
                                                             "\n")))
            << direct.out;
    }
}

}  // namespace
