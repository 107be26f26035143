// tarvexctl beside the standard disk tools. For every real drive's dump and every SATA drive of
// the demo PC, `tarvexctl --json identify` and `smart` must say what `hdparm --Istdin` and
// `skdump --load` say about the same bytes, on every field both decode. Where the program
// differs on purpose, the comparison names the field and the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "peer/tool_runs.h"
#include "support/child_process.h"
#include "support/test_machine.h"

namespace tarvex::peer {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using test::UnderCi;

fs::path RealWorldDir() {
    if (const char* dir = std::getenv("TARVEX_REALWORLD_DRIVES")) {
        return dir;
    }
    return fs::path(TARVEX_SOURCE_DIR) / ".." / "shared" / "realworld-drives";
}

std::string TrimLeft(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

class StandardTools : public ::testing::Test {
protected:
    void SetUp() override {
        hdparm_ = FindTool("hdparm");
        skdump_ = FindTool("skdump");
        if (!hdparm_ || !skdump_) {
            if (UnderCi()) {
                FAIL() << "hdparm and skdump must be installed (scripts/setup installs them)";
            }
            GTEST_SKIP() << "hdparm or skdump is not installed";
        }
    }

    // tarvexctl's JSON answer for one command on a machine (a profile file or the demo PC).
    json Tarvex(const std::string& machine, const std::string& command) {
        const std::string line = "env -u TARVEX_MACHINE -u TARVEX_STATE -u TARVEX_SPEED -u TARVEX_PLATFORM " + Quote(TARVEXCTL_PATH) +
                                 (machine.empty() ? "" : " --machine " + Quote(machine)) + " --state " +
                                 Quote((dir_.Path() / ("state-" + std::to_string(states_++))).string()) +
                                 " --json " + command;
        const ToolRun r = RunShell(line);
        EXPECT_EQ(r.exitCode, 0) << line << "\n" << r.err << r.out;
        return r.out.empty() ? json::object() : json::parse(r.out);
    }
    std::string TarvexText(const std::string& machine, const std::string& command) {
        const ToolRun r = RunShell("env -u TARVEX_MACHINE -u TARVEX_STATE -u TARVEX_SPEED -u TARVEX_PLATFORM " + Quote(TARVEXCTL_PATH) +
                                   " --machine " + Quote(machine) + " --state " +
                                   Quote((dir_.Path() / ("state-" + std::to_string(states_++))).string()) + " " +
                                   command);
        EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.err;
        return r.out;
    }

    HdparmView Hdparm(const std::vector<uint8_t>& identify) {
        const ToolRun r = RunShell(Quote(hdparm_->string()) + " --Istdin", HexWordLines(identify));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return ParseHdparm(r.out);
    }
    SkdumpView Skdump(const DrivePages& pages) {
        const fs::path file = dir_.Path() / (pages.name + ".skdump");
        const std::vector<uint8_t> blob = TaggedDump(pages);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(blob.data()),
                                                     static_cast<std::streamsize>(blob.size()));
        const ToolRun r = RunShell(Quote(skdump_->string()) + " --load=" + Quote(file.string()));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return ParseSkdump(r.out);
    }

    // A one-disk PC whose disk 0 replays `pages` (a dump file, or inline pages).
    std::string ReplayProfile(const std::string& name, const json& pages) {
        json profile = {{"formatVersion", 1},
                        {"os", {{"major", 6}, {"minor", 1}, {"build", 7601}, {"servicePack", "Service Pack 1"}}},
                        {"uiLanguage", 1033},
                        {"program", {{"path", "C:\\T\\Tarvex.exe"}}},
                        {"disks", json::array({{{"number", 0}, {"kind", "sata"}, {"sata", {{"pages", pages}}}}})}};
        const fs::path path = dir_.Path() / (name + ".json");
        std::ofstream(path) << profile.dump(2);
        return path.string();
    }

    // The documents are taken by value: a missing field then reads as null and fails its
    // comparison instead of stopping the test run.
    void CompareIdentify(json doc, const HdparmView& h, const std::string& drive);
    void CompareSmart(json smart, json identify, const SkdumpView& s, const DrivePages& pages,
                      const std::string& drive);

    std::optional<fs::path> hdparm_;
    std::optional<fs::path> skdump_;
    test::TempDir dir_;
    int states_ = 0;
};

// hdparm names the revisions of word 222 its own way; ours are the names of the SATA revisions.
std::string HdparmRevisionToOurs(const std::string& item) {
    if (item.rfind("SATA Rev ", 0) == 0) {
        return "SATA " + item.substr(9);
    }
    if (item == "SATA II Extensions") {
        return "SATA II Ext";
    }
    return item;
}

void StandardTools::CompareIdentify(json doc, const HdparmView& h, const std::string& drive) {
    SCOPED_TRACE(drive);
    json& id = doc["identity"];
    EXPECT_EQ(id["model"], h.model);
    // The program keeps a serial's leading blanks as the drive sends them; hdparm drops them.
    EXPECT_EQ(TrimLeft(id["serial"].get<std::string>()), h.serial) << "serial (leading blanks kept on purpose)";
    EXPECT_EQ(id["firmware"], h.firmware);

    json& cap = doc["capacity"];
    ASSERT_TRUE(h.lba28Sectors.has_value()) << "hdparm shows no LBA sectors";
    EXPECT_EQ(cap["lba28Sectors"], *h.lba28Sectors);
    EXPECT_EQ(cap["lba48"].get<bool>(), h.lba48Sectors.has_value()) << "48-bit address feature set";
    if (h.lba48Sectors) {
        EXPECT_EQ(cap["lba48Sectors"], *h.lba48Sectors);
        EXPECT_EQ(cap["sectors"], *h.lba48Sectors);
    } else {
        EXPECT_EQ(cap["sectors"], *h.lba28Sectors) << "a drive without the 48-bit feature set: words 60..61";
    }
    EXPECT_EQ(id["maxLba"], cap["sectors"]);
    ASSERT_TRUE(h.logicalSectorBytes && h.physicalSectorBytes);
    EXPECT_EQ(cap["logicalSectorBytes"], *h.logicalSectorBytes);
    EXPECT_EQ(cap["physicalSectorBytes"], *h.physicalSectorBytes);
    ASSERT_TRUE(h.megabytes.has_value());
    EXPECT_EQ(cap["bytes"].get<uint64_t>() / 1000000, *h.megabytes);
    EXPECT_EQ(cap["bytes"].get<uint64_t>(), cap["sectors"].get<uint64_t>() * *h.logicalSectorBytes);

    if (h.wwn) {
        EXPECT_EQ(Lower(id["wwn"].get<std::string>()), Lower(*h.wwn));
    } else {
        EXPECT_EQ(id["wwn"], "none");
    }

    EXPECT_EQ(doc["trim"]["supported"].get<bool>(), h.trim);
    EXPECT_EQ(doc["trim"]["zeroedRead"].get<bool>(), h.trimZeroes);
    EXPECT_EQ(doc["trim"]["deterministicRead"].get<bool>(), h.trimZeroes || h.trimDeterministicData);

    std::set<std::string> speeds;
    for (const json& s : doc["sata"]["supportedSpeeds"]) {
        speeds.insert(s.get<std::string>().substr(0, 3));
    }
    EXPECT_EQ(speeds, h.speeds) << "supported signalling speeds";
    const std::string revision = doc["sata"]["revision"].is_string() ? doc["sata"]["revision"].get<std::string>() : "";
    if (h.transport.empty()) {
        EXPECT_EQ(revision, "N/A");
    } else if (h.transport.back() == "SATA Rev 3.0" && revision > "SATA 3.0" && revision <= "SATA 3.5") {
        // hdparm names the revisions of word 222 only up to 3.0; the program names them up to 3.5.
    } else {
        EXPECT_EQ(revision, HdparmRevisionToOurs(h.transport.back()));
    }

    // hdparm lists only the newest of the ATA versions a drive claims; the program lists every
    // bit of word 80. The newest agree, and what hdparm lists the program lists too.
    std::set<int> majors;
    for (const json& v : doc["ata"]["majorVersions"]) {
        majors.insert(v.get<int>());
    }
    if (h.majorVersions.empty()) {
        EXPECT_TRUE(majors.empty()) << "ATA major versions";
    } else {
        ASSERT_FALSE(majors.empty()) << "ATA major versions";
        EXPECT_EQ(*majors.rbegin(), *h.majorVersions.rbegin()) << "newest ATA major version";
        EXPECT_EQ(doc["ata"]["majorVersion"], *h.majorVersions.rbegin());
        for (int v : h.majorVersions) {
            EXPECT_TRUE(majors.count(v)) << "ATA major version " << v << " shown by hdparm";
        }
        for (int v : majors) {
            EXPECT_TRUE(h.majorVersions.count(v) || v < *h.majorVersions.begin())
                << "ATA major version " << v << " is newer than what hdparm leaves out";
        }
    }

    json& sec = doc["security"];
    auto flag = [&](const char* hdparmKey) {
        auto it = h.security.find(hdparmKey);
        return it != h.security.end() && it->second;
    };
    EXPECT_EQ(sec["supported"].get<bool>(), flag("supported"));
    if (flag("supported")) {
        EXPECT_EQ(sec["enabled"].get<bool>(), flag("enabled"));
        EXPECT_EQ(sec["locked"].get<bool>(), flag("locked"));
        EXPECT_EQ(sec["frozen"].get<bool>(), flag("frozen"));
        EXPECT_EQ(sec["countExpired"].get<bool>(), flag("expired: security count"));
        EXPECT_EQ(sec["enhancedEraseSupported"].get<bool>(), flag("supported: enhanced erase"));
        if (h.securityLevel) {
            EXPECT_EQ(sec["level"], *h.securityLevel);
        }
        auto minutes = [](json v, json more) {
            return fmt::format("{}{}min", more.is_boolean() && more.get<bool>() ? ">" : "",
                               v.is_null() ? 0 : v.get<int>());
        };
        if (h.eraseTime) {
            EXPECT_EQ(minutes(sec["eraseMinutes"], sec["eraseTimeMoreThan"]), *h.eraseTime);
        }
        if (h.enhancedEraseTime) {
            EXPECT_EQ(minutes(sec["enhancedEraseMinutes"], sec["eraseTimeMoreThan"]), *h.enhancedEraseTime);
        }
    }
    if (h.masterPasswordRevision) {
        EXPECT_EQ(sec["masterPasswordIdentifier"], *h.masterPasswordRevision);
    }
    if (h.checksumCorrect) {
        EXPECT_TRUE(doc["checksum"]["present"].get<bool>());
        EXPECT_EQ(doc["checksum"]["valid"].get<bool>(), *h.checksumCorrect);
    } else {
        EXPECT_FALSE(doc["checksum"]["present"].get<bool>());
    }
}

// skdump's texts for the off-line collection and self-test states, by the ATA status value.
int OfflineStatusOf(const std::string& text) {
    if (text.find("never started") != std::string::npos) return 0x00;
    if (text.find("completed without error") != std::string::npos) return 0x02;
    if (text.find("in progress") != std::string::npos) return 0x03;
    if (text.find("suspended") != std::string::npos) return 0x04;
    if (text.find("aborted by") != std::string::npos) return 0x05;
    if (text.find("fatal") != std::string::npos) return 0x06;
    return -1;
}
int SelfTestStatusOf(const std::string& text) {
    if (text.find("in progress") != std::string::npos) return 15;
    if (text.find("completed without error") != std::string::npos) return 0;
    if (text.find("aborted by the host") != std::string::npos) return 1;
    if (text.find("interrupted by the host") != std::string::npos) return 2;
    if (text.find("fatal") != std::string::npos) return 3;
    if (text.find("electrical") != std::string::npos) return 5;
    if (text.find("servo") != std::string::npos) return 6;
    if (text.find("read element") != std::string::npos) return 7;
    if (text.find("handling damage") != std::string::npos) return 8;
    return -1;
}

void StandardTools::CompareSmart(json smart, json identify, const SkdumpView& s, const DrivePages& pages,
                                 const std::string& drive) {
    SCOPED_TRACE(drive);
    auto field = [&](const std::string& name) {
        auto it = s.fields.find(name);
        EXPECT_NE(it, s.fields.end()) << "skdump shows no " << name;
        return it == s.fields.end() ? std::string() : it->second;
    };
    // skdump trims both ends of the strings.
    EXPECT_EQ(field("Model"), identify["identity"]["model"]);
    EXPECT_EQ(field("Serial"), TrimLeft(identify["identity"]["serial"].get<std::string>()))
        << "serial (leading blanks kept on purpose)";
    EXPECT_EQ(field("Firmware"), identify["identity"]["firmware"]);

    if (pages.smartGood) {
        EXPECT_TRUE(smart["returnStatus"]["read"].get<bool>());
        EXPECT_EQ(field("SMART Disk Health Good"), *pages.smartGood ? "yes" : "no");
        EXPECT_EQ(smart["returnStatus"]["thresholdExceeded"].get<bool>(), !*pages.smartGood);
    }

    json& off = smart["offline"];
    const int offline = OfflineStatusOf(field("Off-line Data Collection Status"));
    if (offline >= 0) {
        EXPECT_EQ(off["status"].get<int>() & 0x7F, offline) << "off-line collection status";
    }
    EXPECT_EQ(fmt::format("{} s", off["seconds"].get<int>()), field("Total Time To Complete Off-Line Data Collection"));

    json& st = smart["selfTest"];
    const int status = SelfTestStatusOf(field("Self-Test Execution Status"));
    if (status >= 0) {
        EXPECT_EQ(st["status"], status) << "self-test execution status";
    }
    EXPECT_EQ(fmt::format("{}%", st["remainingPercent"].get<int>()), field("Percent Self-Test Remaining"));
    EXPECT_EQ(st["conveyanceSupported"].get<bool>() ? "yes" : "no", field("Conveyance Self-Test Available"));
    EXPECT_EQ(st["shortAndExtendedSupported"].get<bool>() ? "yes" : "no", field("Short/Extended Self-Test Available"));
    EXPECT_EQ(fmt::format("{} min", st["shortMinutes"].get<int>()), field("Short Self-Test Polling Time"));
    EXPECT_EQ(fmt::format("{} min", st["extendedMinutes"].get<int>()), field("Extended Self-Test Polling Time"));
    EXPECT_EQ(fmt::format("{} min", st["conveyanceMinutes"].get<int>()), field("Conveyance Self-Test Polling Time"));

    json& rows = smart["attributes"];
    ASSERT_EQ(rows.size(), s.rows.size()) << "attribute count";
    for (size_t i = 0; i < s.rows.size(); ++i) {
        const SkdumpRow& sk = s.rows[i];
        json& a = rows[i];
        SCOPED_TRACE("attribute " + std::to_string(sk.id));
        // The names are not compared: the program names attributes per drive family from its
        // own tables, skdump from its one list.
        EXPECT_EQ(a["id"], sk.id);
        // skdump calls a current or worst value outside 1..253 "n/a"; the program shows the byte.
        if (sk.value) {
            EXPECT_EQ(a["current"], *sk.value);
        } else {
            EXPECT_TRUE(a["current"] == 0 || a["current"] >= 254) << a["current"];
        }
        if (sk.worst) {
            EXPECT_EQ(a["worst"], *sk.worst);
        } else {
            EXPECT_TRUE(a["worst"] == 0 || a["worst"] >= 254) << a["worst"];
        }
        // skdump finds a threshold by the attribute's id; the program pairs the pages by slot.
        if (a["thresholdId"] == sk.id) {
            EXPECT_EQ(a["threshold"], sk.threshold);
        }
        EXPECT_EQ(Lower(a["rawHex"].get<std::string>()), sk.rawHex);
        EXPECT_EQ(a["prefailure"].get<bool>() ? "prefail" : "old-age", sk.type);
        EXPECT_EQ(a["online"].get<bool>() ? "online" : "offline", sk.updates);
    }

    // Attribute 9 as hours. skdump applies per-model units (minutes, half minutes, seconds);
    // the program shows the raw value as hours for every drive, so only a plain drive compares.
    const std::string quirks = s.fields.count("Quirks") ? s.fields.at("Quirks") : "";
    const std::string powered = s.fields.count("Powered On") ? s.fields.at("Powered On") : "";
    if (!smart["powerOnHours"].is_null() && quirks.find("9_POWERON") == std::string::npos &&
        powered.find(' ') != std::string::npos) {
        const double shown = std::stod(powered.substr(0, powered.find(' ')));
        const std::string unit = powered.substr(powered.find(' ') + 1);
        const double hours = smart["powerOnHours"].get<double>();
        const std::map<std::string, double> perUnit = {
            {"min", 1.0 / 60}, {"h", 1}, {"days", 24}, {"months", 24 * 30}, {"years", 24 * 365}};
        ASSERT_TRUE(perUnit.count(unit)) << powered;
        EXPECT_NEAR(hours / perUnit.at(unit), shown, 0.051) << "power-on hours, skdump shows " << powered;
    }
    // skdump reads attribute 231 as a temperature on every drive; the drive families the program
    // knows use it for the life left, and the program takes the temperature from 194 or 190.
    bool has231 = false;
    for (const SkdumpRow& r : s.rows) {
        has231 = has231 || r.id == 231;
    }
    const std::string temperature = s.fields.count("Temperature") ? s.fields.at("Temperature") : "";
    if (!has231 && temperature.size() > 2 && temperature.ends_with(" C")) {
        EXPECT_EQ(smart["temperature"].get<int>(), static_cast<int>(std::lround(std::stod(temperature))))
            << "temperature, skdump shows " << temperature;
    }
}

std::vector<fs::path> RealDumps() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(RealWorldDir(), ec)) {
        if (e.path().extension() == ".bin" || e.path().extension() == ".blob") {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(StandardTools, RealDrivesAgreeWithHdparmAndSkdump) {
    const std::vector<fs::path> dumps = RealDumps();
    if (dumps.empty()) {
        if (UnderCi()) {
            FAIL() << "no drive dumps in " << RealWorldDir();
        }
        GTEST_SKIP() << "no drive dumps in " << RealWorldDir();
    }
    for (const fs::path& file : dumps) {
        const DrivePages pages = ReadDumpFile(file);
        const std::string profile = ReplayProfile(file.stem().string(), {{"dumpFile", file.string()}});
        json identify = Tarvex(profile, "identify --disk 0 --raw");
        ASSERT_TRUE(identify.contains("identity")) << file;
        EXPECT_EQ(identify["rawIdentify"], HexBytes(pages.identify)) << file << ": the drive answers the dump's bytes";
        CompareIdentify(identify, Hdparm(pages.identify), file.filename().string());

        // The text form of --raw feeds hdparm directly.
        const ToolRun piped = RunShell(Quote(hdparm_->string()) + " --Istdin",
                                       TarvexText(profile, "identify --disk 0 --raw"));
        const HdparmView fromText = ParseHdparm(piped.out);
        EXPECT_EQ(fromText.model, identify["identity"]["model"]) << file << ": hdparm reads identify --raw";
        EXPECT_EQ(fromText.lba28Sectors, identify["capacity"]["lba28Sectors"].get<uint64_t>()) << file;

        if (pages.smartData.empty()) {
            continue;  // skdump loads only tagged dumps
        }
        json smart = Tarvex(profile, "smart --disk 0 --raw");
        EXPECT_EQ(smart["rawSmartData"], HexBytes(pages.smartData)) << file;
        EXPECT_EQ(smart["rawSmartThresholds"], HexBytes(pages.smartThresholds)) << file;
        CompareSmart(smart, identify, Skdump(pages), pages, file.filename().string());
    }
}

TEST_F(StandardTools, DemoDrivesAgreeWithHdparmAndSkdump) {
    json scan = Tarvex("", "scan");
    int sata = 0;
    for (json& d : scan["drives"]) {
        if (d["interface"] == "NVMe") {
            continue;
        }
        ++sata;
        const std::string disk = std::to_string(d["diskNumber"].get<int>());
        json identify = Tarvex("", "identify --disk " + disk + " --raw");
        json smart = Tarvex("", "smart --disk " + disk + " --raw");
        DrivePages pages;
        pages.name = "demo-disk" + disk;
        pages.identify = FromHex(identify["rawIdentify"].get<std::string>());
        pages.smartData = FromHex(smart["rawSmartData"].get<std::string>());
        pages.smartThresholds = FromHex(smart["rawSmartThresholds"].get<std::string>());
        pages.smartGood = !smart["returnStatus"]["thresholdExceeded"].get<bool>();
        ASSERT_EQ(pages.identify.size(), 512u);
        ASSERT_EQ(pages.smartData.size(), 512u);
        CompareIdentify(identify, Hdparm(pages.identify), pages.name);
        CompareSmart(smart, identify, Skdump(pages), pages, pages.name);
    }
    EXPECT_GE(sata, 3) << "the demo PC has three listed SATA drives";
}

// Pages no real dump has: 4096-byte logical sectors, 512-byte logical in 4096-byte physical
// sectors. They start from a real page with words changed and the checksum sealed again.
TEST_F(StandardTools, SectorLayoutsAgreeWithHdparm) {
    const fs::path base = RealWorldDir() / "Samsung_SSD_860_EVO_500GB.bin";
    if (!fs::exists(base)) {
        if (UnderCi()) {
            FAIL() << "missing " << base;
        }
        GTEST_SKIP() << "missing " << base;
    }
    const DrivePages real = ReadDumpFile(base);
    auto put = [](std::vector<uint8_t>& p, int word, uint16_t v) {
        p[2 * word] = static_cast<uint8_t>(v);
        p[2 * word + 1] = static_cast<uint8_t>(v >> 8);
    };
    auto seal = [](std::vector<uint8_t>& p) {
        uint8_t sum = 0;
        for (int i = 0; i < 511; ++i) {
            sum = static_cast<uint8_t>(sum + p[i]);
        }
        p[511] = static_cast<uint8_t>(0x100 - sum);
    };
    struct Layout {
        const char* name;
        uint16_t word106;
        uint32_t logicalWords;  // words 117..118 when bit 12 is set
        uint64_t sectors;
        uint32_t logical;
        uint32_t physical;
    };
    const Layout layouts[] = {
        {"4Kn", 0x5000, 2048, 976773168 / 8, 4096, 4096},
        {"512e", 0x6003, 0, 976773168, 512, 4096},
        {"4Kn-with-8K-physical", 0x7001, 2048, 976773168 / 8, 4096, 8192},
        {"word-106-not-valid", 0x9003, 2048, 976773168, 512, 512},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        std::vector<uint8_t> page = real.identify;
        put(page, 106, l.word106);
        put(page, 117, static_cast<uint16_t>(l.logicalWords));
        put(page, 118, static_cast<uint16_t>(l.logicalWords >> 16));
        for (int i = 0; i < 4; ++i) {
            put(page, 100 + i, static_cast<uint16_t>(l.sectors >> (16 * i)));
        }
        seal(page);
        const std::string profile = ReplayProfile(l.name, {{"identify", HexBytes(page)}});
        json identify = Tarvex(profile, "identify --disk 0");
        ASSERT_TRUE(identify.contains("capacity"));
        EXPECT_EQ(identify["capacity"]["logicalSectorBytes"], l.logical);
        EXPECT_EQ(identify["capacity"]["physicalSectorBytes"], l.physical);
        EXPECT_EQ(identify["capacity"]["bytes"], l.sectors * l.logical);
        CompareIdentify(identify, Hdparm(page), l.name);
    }
}

}  // namespace
}  // namespace tarvex::peer
